#include "sim/tracing_desktop.h"

#include "sim/tracing.h"

#include <cmath>
#include <cstring>

namespace ventra::sim {
namespace {
namespace pf = app::platform;
using json = nlohmann::ordered_json;

// Sees what the app registers and reads; the rule itself is the port's.
class TracingDefaults final : public pf::UserDefaults {
 public:
  TracingDefaults(pf::StoredDefault stored, Trace& trace)
      : UserDefaults(std::move(stored)), trace_(trace) {}
  void registerDefaults(const std::map<std::string, pf::DefaultValue>& defaults) override {
    json fields = json::object();
    for (const auto& [key, value] : defaults)
      std::visit([&, k = key](auto v) { fields[k] = v; }, value);
    trace_.add("registerDefaults", fields);
    UserDefaults::registerDefaults(defaults);
  }
  double doubleForKey(const std::string& key) override {
    double value = UserDefaults::doubleForKey(key);
    trace_.add("doubleForKey",
               {{"key", key},
                {"value", std::isfinite(value) ? json(value) : json(std::to_string(value))}});
    return value;
  }

 private:
  Trace& trace_;
};

// The user's answer, as the notification centre reports it to the app.
class TracingDelegate final : public pf::UserNotificationCenterDelegate {
 public:
  TracingDelegate(std::shared_ptr<pf::UserNotificationCenterDelegate> inner, Trace& trace)
      : inner_(std::move(inner)), trace_(trace) {}
  void userNotificationCenterDidActivateNotification(
      pf::UserNotificationCenter& center,
      const std::shared_ptr<pf::UserNotification>& notification) override {
    trace_.add("userAnswer", {{"action", "cancel or click"}});
    inner_->userNotificationCenterDidActivateNotification(center, notification);
  }
  void userNotificationCenterDidDismissAlert(
      pf::UserNotificationCenter& center,
      const std::shared_ptr<pf::UserNotification>& notification) override {
    trace_.add("userAnswer", {{"action", "reset"}});
    inner_->userNotificationCenterDidDismissAlert(center, notification);
  }

 private:
  std::shared_ptr<pf::UserNotificationCenterDelegate> inner_;
  Trace& trace_;
};

class TracingCenter final : public pf::UserNotificationCenter {
 public:
  TracingCenter(std::shared_ptr<pf::UserNotificationCenter> inner, Trace& trace)
      : inner_(std::move(inner)), trace_(trace) {}
  void removeAllDeliveredNotifications() override {
    trace_.add("removeAllDeliveredNotifications");
    inner_->removeAllDeliveredNotifications();
  }
  void deliverNotification(std::shared_ptr<pf::UserNotification> n) override {
    trace_.add("deliverNotification", notificationFields(*n));
    inner_->deliverNotification(std::move(n));
  }
  void setDelegate(std::shared_ptr<pf::UserNotificationCenterDelegate> delegate) override {
    trace_.add("setDelegate");
    inner_->setDelegate(std::make_shared<TracingDelegate>(std::move(delegate), trace_));
  }
  void removeDeliveredNotification(const std::shared_ptr<pf::UserNotification>& n) override {
    trace_.add("removeDeliveredNotification", {{"title", n->title}});
    inner_->removeDeliveredNotification(n);
  }

 private:
  std::shared_ptr<pf::UserNotificationCenter> inner_;
  Trace& trace_;
};

class TracingDesktop final : public pf::DesktopPlatform {
 public:
  TracingDesktop(std::shared_ptr<pf::DesktopPlatform> inner, Trace& trace)
      : inner_(std::move(inner)),
        trace_(trace),
        defaults_(std::make_shared<TracingDefaults>(
            [this](const std::string& key) { return storedDefault(key); }, trace)),
        center_(std::make_shared<TracingCenter>(inner_->defaultUserNotificationCenter(), trace)) {}

  int applicationMain(
      int argc, char** argv,
      const std::function<std::shared_ptr<pf::ApplicationDelegate>()>& create) override {
    return inner_->applicationMain(argc, argv, [&] {
      auto delegate = create();
      trace_.add("applicationDidFinishLaunching");
      return delegate;
    });
  }
  void terminate(pf::ApplicationDelegate& sender) override {
    trace_.add("terminate");
    inner_->terminate(sender);
  }
  std::shared_ptr<pf::UserDefaults> standardUserDefaults() override { return defaults_; }
  std::optional<pf::DefaultValue> storedDefault(const std::string& key) override {
    return inner_->storedDefault(key);
  }
  std::shared_ptr<pf::UserNotificationCenter> defaultUserNotificationCenter() override {
    return center_;
  }
  std::optional<pf::AppleEventDescriptor> currentAppleEvent() override {
    return inner_->currentAppleEvent();
  }
  std::uint64_t modifierFlags() override { return inner_->modifierFlags(); }
  void asyncAfter(double seconds, std::function<void()> work) override {
    trace_.add("schedule", {{"delay", seconds}});
    inner_->asyncAfter(seconds, std::move(work));
  }
  int sysctl(const int* name, unsigned nameLength, void* buffer, std::size_t* size,
             const void* newValue, std::size_t newLength) override {
    int status = inner_->sysctl(name, nameLength, buffer, size, newValue, newLength);
    trace_.add("hostModel",
               {{"model", status == 0 ? json(std::string(static_cast<char*>(buffer))) : json()}});
    return status;
  }

 private:
  std::shared_ptr<pf::DesktopPlatform> inner_;
  Trace& trace_;
  std::shared_ptr<pf::UserDefaults> defaults_;
  std::shared_ptr<pf::UserNotificationCenter> center_;
};

}  // namespace

std::shared_ptr<pf::DesktopPlatform> tracingDesktop(std::shared_ptr<pf::DesktopPlatform> inner,
                                                    Trace& trace) {
  return std::make_shared<TracingDesktop>(std::move(inner), trace);
}

}  // namespace ventra::sim
