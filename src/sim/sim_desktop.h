#pragma once

// The simulated desktop: a virtual clock, a scripted host and a scripted user. Nothing sleeps
// unless real time is asked for. It keeps the trace's clock; what the app asks is written by the
// tracer every desktop is run with (sim/tracing_desktop.h).

#include <functional>
#include <memory>
#include <queue>
#include <set>
#include <vector>

#include "app/platform/desktop.h"
#include "gpu/platform/metal.h"
#include "sim/scenario.h"
#include "sim/trace.h"

namespace ventra::sim {

// The desktop backend of a scripted host and user on the trace's clock: the main queue runs in
// deadline order and jumps from one deadline to the next (real time only where asked); the user
// answers each notification as the scenario says.
class SimDesktop final : public app::platform::DesktopBackend {
 public:
  SimDesktop(const Scenario& scenario, Trace& trace, bool realTime);

  void runUntilQuit(const std::function<void(int status)>& stop) override;
  void quit() override { ++quits_; }
  void runAfter(double seconds, std::function<void()> work) override;
  std::optional<std::string> hostModel() override { return scenario_.hostModel; }
  bool launchedAsLoginItem(int, char**) override { return scenario_.loginItem; }
  std::uint64_t modifierFlags() override { return scenario_.modifierFlags; }
  std::optional<app::platform::DefaultValue> storedDefault(const std::string& key) override;
  app::platform::NotificationId show(
      const app::platform::UserNotification& content, double expirySeconds,
      std::function<void(app::platform::UserAnswer)> answered) override;
  void withdraw(std::optional<app::platform::NotificationId> which) override;

  bool terminated() const { return quits_ > 0; }
  // Notifications on the simulated screen, one an earlier run left included.
  std::size_t deliveredCount() const { return shown_.size(); }

 private:
  struct Item {
    double deadline;
    std::uint64_t order;  // equal deadlines run in the order they were scheduled
    std::function<void()> work;
    bool operator>(const Item& other) const {
      return deadline != other.deadline ? deadline > other.deadline : order > other.order;
    }
  };

  const Scenario& scenario_;
  Trace& trace_;
  bool realTime_;
  int quits_ = 0;
  std::uint64_t nextOrder_ = 0;
  std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue_;
  std::set<app::platform::NotificationId> shown_;
  app::platform::NotificationId nextId_ = 1;
};

// The desktop of a scripted host, untraced: for a run that writes its own record (the reset's).
std::shared_ptr<app::platform::Desktop> simulatedDesktop(const Scenario& scenario, Trace& trace);

struct SimulationOptions {
  bool realTime = false;
  // A GPU platform in place of the scenario's fake GPUs (a real backend, say); traced the same.
  std::shared_ptr<gpu::platform::GPUPlatform> gpu;
};

// One run of the real controller against a scenario, with the SMC emulator and a GPU behind it.
class Simulation {
 public:
  Simulation(Scenario scenario, SimulationOptions options);
  // 0 when the app quit, 1 when it stopped with nothing left to do and no quit, or the app's
  // own status where it ended on an internal error.
  int run();
  const Trace& trace() const { return trace_; }
  const SimDesktop& desktop() const { return *desktop_; }

 private:
  Scenario scenario_;
  SimulationOptions options_;
  Trace trace_;
  std::shared_ptr<SimDesktop> desktop_;
};

}  // namespace ventra::sim
