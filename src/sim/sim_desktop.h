#pragma once

// The simulated desktop: a virtual clock, a scripted host and a scripted user. Nothing sleeps
// unless real time is asked for. It keeps the trace's clock; the platform calls are written by the
// tracing decorator every desktop is run behind (sim/tracing_desktop.h).

#include <functional>
#include <memory>
#include <queue>
#include <vector>

#include "app/platform/desktop.h"
#include "gpu/platform/metal.h"
#include "sim/scenario.h"
#include "sim/trace.h"

namespace ventra::sim {

class SimNotificationCenter;

class SimDesktop : public app::platform::DesktopPlatform,
                   public std::enable_shared_from_this<SimDesktop> {
 public:
  SimDesktop(const Scenario& scenario, Trace& trace, bool realTime);

  int applicationMain(
      int argc, char** argv,
      const std::function<std::shared_ptr<app::platform::ApplicationDelegate>()>& create) override;
  void terminate(app::platform::ApplicationDelegate& sender) override;
  std::optional<app::platform::DefaultValue> storedDefault(const std::string& key) override;
  std::shared_ptr<app::platform::UserNotificationCenter> defaultUserNotificationCenter() override;
  std::optional<app::platform::AppleEventDescriptor> currentAppleEvent() override;
  std::uint64_t modifierFlags() override;
  void asyncAfter(double seconds, std::function<void()> work) override;
  int sysctl(const int* name, unsigned nameLength, void* buffer, std::size_t* size,
             const void* newValue, std::size_t newLength) override;

  bool terminated() const { return terminations_ > 0; }
  int terminations() const { return terminations_; }
  std::size_t deliveredCount() const;

 private:
  struct Item {
    double deadline;
    std::uint64_t order;  // equal deadlines run in the order they were scheduled
    std::function<void()> work;
    bool operator>(const Item& other) const {
      return deadline != other.deadline ? deadline > other.deadline : order > other.order;
    }
  };
  void runMainQueue();

  const Scenario& scenario_;
  Trace& trace_;
  bool realTime_;
  bool launching_ = false;
  int terminations_ = 0;
  std::uint64_t nextOrder_ = 0;
  std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue_;
  std::shared_ptr<SimNotificationCenter> center_;
};

struct SimulationOptions {
  bool realTime = false;
  // A GPU platform in place of the scenario's fake GPUs (a real backend, say); traced the same.
  std::shared_ptr<gpu::platform::GPUPlatform> gpu;
};

// One run of the real controller against a scenario, with the SMC emulator and a GPU behind it.
class Simulation {
 public:
  Simulation(Scenario scenario, SimulationOptions options);
  // 0 when the app quit, 1 when it stopped with nothing left to do and no quit.
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
