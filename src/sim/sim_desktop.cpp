#include "sim/sim_desktop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/app_delegate.h"
#include "app/controller.h"
#include "sim/simulated_host.h"
#include "sim/tracing.h"

namespace ventra::sim {
namespace pf = app::platform;

namespace {

// The leftover of an earlier run, where the scenario has one: on screen until withdrawn.
constexpr pf::NotificationId kLeftover = 0;

pf::UserAnswer answerOf(Answer::Action action) {
  switch (action) {
    case Answer::Action::reset:
      return pf::UserAnswer::otherButton;
    case Answer::Action::cancel:
      return pf::UserAnswer::actionButton;
    default:
      return pf::UserAnswer::body;
  }
}

}  // namespace

SimDesktop::SimDesktop(const Scenario& scenario, Trace& trace, bool realTime)
    : scenario_(scenario), trace_(trace), realTime_(realTime) {
  if (scenario.leftoverNotification) shown_.insert(kLeftover);
}

void SimDesktop::runUntilQuit(const std::function<void(int)>&) {
  const auto start = std::chrono::steady_clock::now();
  while (!terminated() && !queue_.empty()) {
    Item item = queue_.top();
    queue_.pop();
    if (realTime_)
      std::this_thread::sleep_until(start + std::chrono::duration<double>(item.deadline));
    trace_.advanceTo(std::max(trace_.now(), item.deadline));
    item.work();
  }
  if (!terminated()) trace_.add("stalled", {{"reason", "nothing scheduled and no quit"}});
}

void SimDesktop::runAfter(double seconds, std::function<void()> work) {
  queue_.push({trace_.now() + seconds, nextOrder_++, std::move(work)});
}

std::optional<pf::DefaultValue> SimDesktop::storedDefault(const std::string& key) {
  auto found = scenario_.defaults.find(key);
  if (found == scenario_.defaults.end()) return std::nullopt;
  return found->second;
}

// The simulated screen keeps a notification until it is withdrawn or answered: a run ends long
// before any expiry.
pf::NotificationId SimDesktop::show(const pf::UserNotification&, double,
                                    std::function<void(pf::UserAnswer)> answered) {
  const pf::NotificationId id = nextId_++;
  shown_.insert(id);
  const Answer answer = scenario_.answer;
  if (answer.action != Answer::Action::none)
    runAfter(answer.after, [this, id, answer, answered = std::move(answered)] {
      if (shown_.erase(id)) answered(answerOf(answer.action));  // if still on screen
    });
  return id;
}

void SimDesktop::withdraw(std::optional<pf::NotificationId> which) {
  if (which)
    shown_.erase(*which);
  else
    shown_.clear();
}

std::shared_ptr<pf::Desktop> simulatedDesktop(const Scenario& scenario, Trace& trace) {
  return std::make_shared<pf::Desktop>(std::make_shared<SimDesktop>(scenario, trace, false),
                                       app::desktopRules());
}

Simulation::Simulation(Scenario scenario, SimulationOptions options)
    : scenario_(std::move(scenario)),
      options_(options),
      desktop_(std::make_shared<SimDesktop>(scenario_, trace_, options.realTime)) {}

int Simulation::run() {
  ScopedComposition installed(simulatedHost(scenario_, trace_, desktop_, options_.gpu));
  const int status = app::applicationMain(0, nullptr);
  if (status != 0) return status;
  return desktop_->terminated() ? 0 : 1;
}

}  // namespace ventra::sim
