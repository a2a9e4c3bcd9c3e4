#include "sim/sim_desktop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/app_delegate.h"
#include "sim/simulated_host.h"
#include "sim/tracing.h"

namespace ventra::sim {
namespace pf = app::platform;

class SimNotificationCenter final : public pf::UserNotificationCenter {
 public:
  SimNotificationCenter(SimDesktop& desktop, const Scenario& scenario)
      : desktop_(desktop), answer_(scenario.answer) {
    if (scenario.leftoverNotification) {
      auto leftover = std::make_shared<pf::UserNotification>();
      leftover->title = "High Fan Speed Detected";
      delivered_.push_back(leftover);
    }
  }
  void removeAllDeliveredNotifications() override { delivered_.clear(); }
  void deliverNotification(std::shared_ptr<pf::UserNotification> n) override {
    delivered_.push_back(n);
    // The user's answer is queued on this desktop itself, not on the traced one the app sees:
    // it is no call of the app's.
    if (answer_.action != Answer::Action::none)
      desktop_.asyncAfter(answer_.after, [this, n] { userAnswers(n); });
  }
  void setDelegate(std::shared_ptr<pf::UserNotificationCenterDelegate> delegate) override {
    delegate_ = std::move(delegate);
  }
  void removeDeliveredNotification(const std::shared_ptr<pf::UserNotification>& n) override {
    std::erase(delivered_, n);
  }
  std::size_t deliveredCount() const { return delivered_.size(); }

 private:
  // The user acts on the notification if it is still on screen.
  void userAnswers(const std::shared_ptr<pf::UserNotification>& n) {
    if (std::find(delivered_.begin(), delivered_.end(), n) == delivered_.end()) return;
    std::erase(delivered_, n);
    if (!delegate_) return;
    if (answer_.action == Answer::Action::reset)
      delegate_->userNotificationCenterDidDismissAlert(*this, n);
    else
      delegate_->userNotificationCenterDidActivateNotification(*this, n);
  }

  SimDesktop& desktop_;
  Answer answer_;
  std::vector<std::shared_ptr<pf::UserNotification>> delivered_;
  std::shared_ptr<pf::UserNotificationCenterDelegate> delegate_;
};

SimDesktop::SimDesktop(const Scenario& scenario, Trace& trace, bool realTime)
    : scenario_(scenario),
      trace_(trace),
      realTime_(realTime),
      center_(std::make_shared<SimNotificationCenter>(*this, scenario)) {}

int SimDesktop::applicationMain(
    int, char**, const std::function<std::shared_ptr<pf::ApplicationDelegate>()>& create) {
  auto delegate = create();
  launching_ = true;
  delegate->applicationDidFinishLaunching();
  launching_ = false;
  runMainQueue();
  if (!terminated()) trace_.add("stalled", {{"reason", "nothing scheduled and no quit"}});
  return terminated() ? 0 : 1;
}

void SimDesktop::runMainQueue() {
  const auto start = std::chrono::steady_clock::now();
  while (!terminated() && !queue_.empty()) {
    Item item = queue_.top();
    queue_.pop();
    if (realTime_)
      std::this_thread::sleep_until(start + std::chrono::duration<double>(item.deadline));
    trace_.advanceTo(std::max(trace_.now(), item.deadline));
    item.work();
  }
}

void SimDesktop::terminate(pf::ApplicationDelegate& sender) {
  ++terminations_;
  sender.applicationWillTerminate();
}

std::optional<pf::DefaultValue> SimDesktop::storedDefault(const std::string& key) {
  auto found = scenario_.defaults.find(key);
  if (found == scenario_.defaults.end()) return std::nullopt;
  return found->second;
}

std::shared_ptr<pf::UserNotificationCenter> SimDesktop::defaultUserNotificationCenter() {
  return center_;
}

std::optional<pf::AppleEventDescriptor> SimDesktop::currentAppleEvent() {
  if (!launching_) return std::nullopt;
  pf::AppleEventDescriptor event{pf::kAEOpenApplication, {}};
  if (scenario_.loginItem) event.enumParameters[pf::keyAEPropData] = pf::keyAELaunchedAsLogInItem;
  return event;
}

std::uint64_t SimDesktop::modifierFlags() {
  return scenario_.modifierFlags;
}

void SimDesktop::asyncAfter(double seconds, std::function<void()> work) {
  queue_.push({trace_.now() + seconds, nextOrder_++, std::move(work)});
}

int SimDesktop::sysctl(const int* name, unsigned nameLength, void* buffer, std::size_t* size,
                       const void*, std::size_t) {
  const auto& model = scenario_.hostModel;
  if (nameLength != 2 || name[0] != pf::CTL_HW || name[1] != pf::HW_MODEL || !model) return -1;
  if (model->size() + 1 > *size) return -1;  // does not fit, as the real call reports
  std::memcpy(buffer, model->c_str(), model->size() + 1);
  *size = model->size() + 1;
  return 0;
}

std::size_t SimDesktop::deliveredCount() const {
  return center_->deliveredCount();
}

Simulation::Simulation(Scenario scenario, SimulationOptions options)
    : scenario_(std::move(scenario)),
      options_(options),
      desktop_(std::make_shared<SimDesktop>(scenario_, trace_, options.realTime)) {}

int Simulation::run() {
  ScopedComposition installed(simulatedHost(scenario_, trace_, desktop_, options_.gpu));
  app::applicationMain(0, nullptr);
  return desktop_->terminated() ? 0 : 1;
}

}  // namespace ventra::sim
