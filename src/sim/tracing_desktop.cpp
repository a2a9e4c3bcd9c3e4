#include "sim/tracing_desktop.h"

#include <cmath>

#include "app/controller.h"
#include "sim/tracing.h"

namespace ventra::sim {
namespace {
namespace pf = app::platform;
using json = nlohmann::ordered_json;

class DesktopTracer final : public pf::DesktopObserver {
 public:
  explicit DesktopTracer(Trace& trace) : trace_(trace) {}
  void launched() override { trace_.add("applicationDidFinishLaunching"); }
  void terminating() override { trace_.add("terminate"); }
  void scheduled(double seconds) override { trace_.add("schedule", {{"delay", seconds}}); }
  void hostModelRead(const std::optional<std::string>& model) override {
    trace_.add("hostModel", {{"model", model ? json(*model) : json()}});
  }
  void defaultsRegistered(const std::map<std::string, pf::DefaultValue>& defaults) override {
    json fields = json::object();
    for (const auto& [key, value] : defaults)
      std::visit([&, k = key](auto v) { fields[k] = v; }, value);
    trace_.add("registerDefaults", fields);
  }
  void defaultRead(const std::string& key, double value) override {
    trace_.add("doubleForKey",
               {{"key", key},
                {"value", std::isfinite(value) ? json(value) : json(std::to_string(value))}});
  }
  void allNotificationsRemoved() override { trace_.add("removeAllDeliveredNotifications"); }
  void notificationDelivered(const pf::UserNotification& n) override {
    trace_.add("deliverNotification", notificationFields(n));
  }
  void delegateSet() override { trace_.add("setDelegate"); }
  void notificationRemoved(const pf::UserNotification& n) override {
    trace_.add("removeDeliveredNotification", {{"title", n.title}});
  }
  void userAnswered(pf::UserAnswer answer) override {
    trace_.add("userAnswer",
               {{"action", answer == pf::UserAnswer::otherButton ? "reset" : "cancel or click"}});
  }

 private:
  Trace& trace_;
};

}  // namespace

std::shared_ptr<pf::DesktopObserver> desktopTracer(Trace& trace) {
  return std::make_shared<DesktopTracer>(trace);
}

std::shared_ptr<pf::Desktop> tracedDesktop(std::shared_ptr<pf::DesktopBackend> backend,
                                           Trace& trace) {
  return std::make_shared<pf::Desktop>(std::move(backend), app::desktopRules(),
                                       desktopTracer(trace));
}

}  // namespace ventra::sim
