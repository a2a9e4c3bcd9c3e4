#include "app/platform/desktop.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace ventra::app::platform {
namespace {

std::shared_ptr<Desktop>& installed() {
  static std::shared_ptr<Desktop> desktop;
  return desktop;
}

}  // namespace

void UserDefaults::registerDefaults(const std::map<std::string, DefaultValue>& defaults) {
  if (observer_) observer_->defaultsRegistered(defaults);
  for (const auto& [key, value] : defaults) registered_[key] = value;
}

double UserDefaults::doubleForKey(const std::string& key) {
  auto value = stored_(key);
  if (!value) {
    auto registered = registered_.find(key);
    value = registered == registered_.end() ? DefaultValue{0.0} : registered->second;
  }
  const double number = std::visit([](auto stored) { return static_cast<double>(stored); }, *value);
  if (observer_) observer_->defaultRead(key, number);
  return number;
}

Desktop::Desktop(std::shared_ptr<DesktopBackend> backend, DesktopRules rules,
                 std::shared_ptr<DesktopObserver> observer)
    : backend_(std::move(backend)),
      observer_(observer ? std::move(observer) : std::make_shared<DesktopObserver>()),
      defaults_(std::make_shared<UserDefaults>(
          [backend = backend_.get()](const std::string& key) {
            return backend->storedDefault(key);
          },
          observer_.get())),
      center_(std::make_shared<UserNotificationCenter>(
          *backend_, rules, observer_.get(),
          [this](const std::function<void()>& work) { run(work); })) {}

Desktop::~Desktop() = default;

int Desktop::applicationMain(int argc, char** argv,
                             const std::function<std::shared_ptr<ApplicationDelegate>()>& create) {
  loginItem_ = backend_->launchedAsLoginItem(argc, argv);
  auto delegate = create();
  observer_->launched();
  delegate_ = delegate.get();
  launching_ = true;
  run([&] { delegate->applicationDidFinishLaunching(); });
  launching_ = false;
  // Ctrl-C or SIGTERM (a logout, a service stopping): the app quits as it would, its alert
  // withdrawn, with the signal's status; also where the signal came while the app was busy (its
  // load) and was heard only as it ended. An ending by exception keeps its own status.
  backend_->runUntilQuit([this](int status) {
    if (!terminated_ || status_ == 0) status_ = status;
    backend_->withdraw(std::nullopt);
    if (delegate_) terminate(*delegate_);
  });
  delegate_ = nullptr;
  return status_;
}

void Desktop::terminate(ApplicationDelegate& sender) {
  observer_->terminating();
  if (terminated_) return;
  terminated_ = true;
  sender.applicationWillTerminate();
  backend_->quit();  // nothing queued runs after the quit
}

std::optional<AppleEventDescriptor> Desktop::currentAppleEvent() const {
  if (!launching_) return std::nullopt;
  AppleEventDescriptor event{kAEOpenApplication, {}};
  if (loginItem_) event.enumParameters[keyAEPropData] = keyAELaunchedAsLogInItem;
  return event;
}

void Desktop::asyncAfter(double seconds, std::function<void()> work) {
  observer_->scheduled(seconds);
  if (terminated_) return;  // the process is ending: nothing more will run
  backend_->runAfter(seconds, [this, work = std::move(work)] { run(work); });
}

int Desktop::sysctl(const int* name, unsigned nameLength, void* buffer, std::size_t* size,
                    const void*, std::size_t) {
  std::string model;
  bool answered = false;  // read, and fits the buffer with its terminating zero
  if (nameLength == 2 && name[0] == CTL_HW && name[1] == HW_MODEL) {
    if (auto read = backend_->hostModel()) {
      model = std::move(*read);
      answered = model.size() + 1 <= *size;
    }
  }
  if (answered) {
    std::memcpy(buffer, model.c_str(), model.size() + 1);
    *size = model.size() + 1;
  }
  observer_->hostModelRead(answered ? std::optional(model) : std::nullopt);
  return answered ? 0 : -1;
}

// An exception must not cross the backend's frames (GLib's are C): one that escapes the app
// ends it with a message and status 1, and nothing scheduled runs after it.
void Desktop::run(const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& error) {
    endWithInternalError(error);
  }
}

void Desktop::endWithInternalError(const std::exception& error) {
  std::cerr << "ventra: internal error: " << error.what() << "\n";
  status_ = 1;
  terminated_ = true;
  backend_->quit();
}

void UserNotificationCenter::removeAllDeliveredNotifications() {
  if (observer_) observer_->allNotificationsRemoved();
  delivered_.clear();
  backend_.withdraw(std::nullopt);
}

void UserNotificationCenter::deliverNotification(std::shared_ptr<UserNotification> notification) {
  if (observer_) observer_->notificationDelivered(*notification);
  const NotificationId id = backend_.show(
      *notification, rules_.notificationExpirySeconds,
      [this, notification](UserAnswer answer) { guard_([&] { answered(notification, answer); }); });
  delivered_.emplace_back(std::move(notification), id);
}

void UserNotificationCenter::setDelegate(std::shared_ptr<UserNotificationCenterDelegate> delegate) {
  if (observer_) observer_->delegateSet();
  delegate_ = std::move(delegate);
}

void UserNotificationCenter::removeDeliveredNotification(
    const std::shared_ptr<UserNotification>& notification) {
  if (observer_) observer_->notificationRemoved(*notification);
  auto found = std::find_if(delivered_.begin(), delivered_.end(),
                            [&](const auto& shown) { return shown.first == notification; });
  if (found == delivered_.end()) return;
  const NotificationId id = found->second;
  delivered_.erase(found);
  backend_.withdraw(id);
}

// Only a notification still delivered is answered, and only the first answer counts: a server
// may echo an action, and a withdrawn alert has nobody waiting on it.
void UserNotificationCenter::answered(const std::shared_ptr<UserNotification>& notification,
                                      UserAnswer answer) {
  auto found = std::find_if(delivered_.begin(), delivered_.end(),
                            [&](const auto& shown) { return shown.first == notification; });
  if (found == delivered_.end() || answered_) return;
  answered_ = true;
  delivered_.erase(found);
  if (!delegate_) return;
  if (observer_) observer_->userAnswered(answer);
  if (answer == UserAnswer::otherButton)
    delegate_->userNotificationCenterDidDismissAlert(*this, notification);
  else
    delegate_->userNotificationCenterDidActivateNotification(*this, notification);
}

Desktop& desktop() {
  if (!installed()) throw std::logic_error("this process was composed without a desktop");
  return *installed();
}

void installDesktop(std::shared_ptr<Desktop> desktop) {
  installed() = std::move(desktop);
}

std::shared_ptr<Desktop> installedDesktop() {
  return installed();
}

}  // namespace ventra::app::platform
