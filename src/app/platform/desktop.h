#pragma once

// The desktop platform port: application start and terminate, user defaults, the launching
// event, modifier flags, the user notification centre, the main queue and the host model query,
// shaped like the platform they come from (`Desktop`), over the few primitives a backend gives
// (`DesktopBackend`). The process's composition installs it; the core reaches the desktop only
// through these declarations.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ventra::app::platform {

using FourCharCode = std::uint32_t;

inline constexpr std::uint64_t NSEventModifierFlagDeviceIndependentFlagsMask = 0xFFFF0000;
inline constexpr std::uint64_t NSEventModifierFlagCommand = 0x00100000;
// The launching event of a login item: "oapp" with "prdt" = "lgit".
inline constexpr FourCharCode kAEOpenApplication = 0x6F617070;        // "oapp"
inline constexpr FourCharCode keyAEPropData = 0x70726474;             // "prdt"
inline constexpr FourCharCode keyAELaunchedAsLogInItem = 0x6C676974;  // "lgit"
inline constexpr int CTL_HW = 6;
inline constexpr int HW_MODEL = 2;

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching() = 0;
  virtual void applicationWillTerminate() = 0;
};

// A notification as set up by its sender; compared by identity once delivered.
struct UserNotification {
  std::string title;
  std::string informativeText;
  std::string soundName;
  bool hasActionButton = false;
  std::string otherButtonTitle;
  std::string actionButtonTitle;
  std::map<std::string, bool> values;  // set by key ("_showsButtons")
};

inline const std::string NSUserNotificationDefaultSoundName = "default";

class UserNotificationCenter;

class UserNotificationCenterDelegate {
 public:
  virtual ~UserNotificationCenterDelegate() = default;
  // The action button ("Cancel") or a click on the notification.
  virtual void userNotificationCenterDidActivateNotification(
      UserNotificationCenter& center, const std::shared_ptr<UserNotification>& notification) = 0;
  // The other button ("Reset").
  virtual void userNotificationCenterDidDismissAlert(
      UserNotificationCenter& center, const std::shared_ptr<UserNotification>& notification) = 0;
};

using DefaultValue = std::variant<std::int64_t, double>;

struct AppleEventDescriptor {
  FourCharCode eventID = 0;
  std::map<FourCharCode, FourCharCode> enumParameters;  // keyword -> enumerated code value

  std::optional<FourCharCode> paramDescriptorForKeyword(FourCharCode keyword) const {
    auto found = enumParameters.find(keyword);
    if (found == enumParameters.end()) return std::nullopt;
    return found->second;
  }
};

// The longest delay every main queue can hold: 2^32 - 1 milliseconds, GLib's limit (49.7 days).
inline constexpr double kLongestDelaySeconds = 4294967.295;

// What the user did with a notification on screen.
enum class UserAnswer { otherButton, actionButton, body };

// A backend's handle on a notification it shows.
using NotificationId = std::uint64_t;

// What a desktop backend does: the platform's few primitives, no rule and no state of the app's.
// The Linux desktop and the simulated one implement it; `Desktop` is everything else.
class DesktopBackend {
 public:
  virtual ~DesktopBackend() = default;
  // Serves the main queue until quit(), at once if it was already asked; then tidies up (what
  // was shown is settled). A request to stop from outside (a signal) calls `stop` with the
  // status the process should end with. Returns after the quit.
  virtual void runUntilQuit(const std::function<void(int status)>& stop) = 0;
  // Nothing queued runs after this.
  virtual void quit() = 0;
  // Runs `work` once on the main thread after `seconds` (negative: none), at most
  // kLongestDelaySeconds; work due at once runs in the order it was asked for.
  virtual void runAfter(double seconds, std::function<void()> work) = 0;
  // The host's model text; nothing where it cannot be read.
  virtual std::optional<std::string> hostModel() = 0;
  // Whether the process was started as a login item, from its arguments.
  virtual bool launchedAsLoginItem(int argc, char** argv) = 0;
  virtual std::uint64_t modifierFlags() = 0;
  // The value the user stored under `key`, if any, read when asked.
  virtual std::optional<DefaultValue> storedDefault(const std::string& key) = 0;
  // Shows `content` until withdrawn, answered, or `expirySeconds` have passed; `answered` is
  // called on the main thread with what the user did, at most once.
  virtual NotificationId show(const UserNotification& content, double expirySeconds,
                              std::function<void(UserAnswer)> answered) = 0;
  // Takes one notification off the screen; nothing: every notification of ours, those an
  // earlier run left included.
  virtual void withdraw(std::optional<NotificationId> which) = 0;
};

// What a desktop was asked and answered, for a tracer; every call is made before the desktop
// acts on it, except those that report an answer (doubleForKey, hostModel).
class DesktopObserver {
 public:
  virtual ~DesktopObserver() = default;
  virtual void launched() {}
  virtual void terminating() {}
  virtual void scheduled(double /*seconds*/) {}
  virtual void hostModelRead(const std::optional<std::string>& /*model*/) {}
  virtual void defaultsRegistered(const std::map<std::string, DefaultValue>& /*defaults*/) {}
  virtual void defaultRead(const std::string& /*key*/, double /*value*/) {}
  virtual void allNotificationsRemoved() {}
  virtual void notificationDelivered(const UserNotification& /*notification*/) {}
  virtual void delegateSet() {}
  virtual void notificationRemoved(const UserNotification& /*notification*/) {}
  virtual void userAnswered(UserAnswer /*answer*/) {}
};

// User defaults: the stored value, else the registered one, else 0. The stored value is looked
// up at each call, so a change made after launch still counts.
class UserDefaults final {
 public:
  using Stored = std::function<std::optional<DefaultValue>(const std::string& key)>;
  explicit UserDefaults(Stored stored, DesktopObserver* observer = nullptr)
      : stored_(std::move(stored)), observer_(observer) {}
  void registerDefaults(const std::map<std::string, DefaultValue>& defaults);
  // Numbers of either kind as a double.
  double doubleForKey(const std::string& key);

 private:
  Stored stored_;
  DesktopObserver* observer_;
  std::map<std::string, DefaultValue> registered_;
};

struct DesktopRules {
  // How long the desktop keeps an alert the app never withdrew (it died, or the server stalled
  // when it was shown): the app says (app::desktopRules).
  double notificationExpirySeconds;
};

// The desktop the core sees, shaped like the platform it comes from, over a backend: the
// launch window, the host model query's buffer rules, the registered defaults, the delegate and
// the user's answer, terminate and exceptions are all decided here, once.
class Desktop final {
 public:
  Desktop(std::shared_ptr<DesktopBackend> backend, DesktopRules rules,
          std::shared_ptr<DesktopObserver> observer = nullptr);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  // Creates the delegate, calls its launch callback once, then serves the main queue until
  // terminate. The process's exit status: 0, a signal's 128 + n, or 1 where an exception
  // escaped the app (said on stderr, and nothing more runs).
  int applicationMain(int argc, char** argv,
                      const std::function<std::shared_ptr<ApplicationDelegate>()>& create);
  // Calls applicationWillTerminate (once, however often asked) and ends the main queue.
  void terminate(ApplicationDelegate& sender);
  std::shared_ptr<UserDefaults> standardUserDefaults() { return defaults_; }
  std::shared_ptr<UserNotificationCenter> defaultUserNotificationCenter() { return center_; }
  // During the launch callback: the event that launched the application.
  std::optional<AppleEventDescriptor> currentAppleEvent() const;
  std::uint64_t modifierFlags() { return backend_->modifierFlags(); }
  // Runs `work` once, on the main thread, at the first turn of the main queue after now +
  // `seconds` (a negative delay counts as none; one longer than kLongestDelaySeconds waits that
  // long).
  void asyncAfter(double seconds, std::function<void()> work);
  // The host model query: 0 on success with a zero-terminated text in `buffer`.
  int sysctl(const int* name, unsigned nameLength, void* buffer, std::size_t* size,
             const void* newValue, std::size_t newLength);

 private:
  void run(const std::function<void()>& work);
  void endWithInternalError(const std::exception& error);

  std::shared_ptr<DesktopBackend> backend_;
  std::shared_ptr<DesktopObserver> observer_;
  std::shared_ptr<UserDefaults> defaults_;
  std::shared_ptr<UserNotificationCenter> center_;
  ApplicationDelegate* delegate_ = nullptr;  // while the app runs
  bool launching_ = false;
  bool loginItem_ = false;
  bool terminated_ = false;
  int status_ = 0;
};

// The notification centre of a Desktop: notifications by identity, the delegate, the answer.
class UserNotificationCenter final {
 public:
  // `guard` runs the delegate's answer as the desktop runs all of the app's work.
  using Guard = std::function<void(const std::function<void()>&)>;
  UserNotificationCenter(DesktopBackend& backend, DesktopRules rules, DesktopObserver* observer,
                         Guard guard)
      : backend_(backend), rules_(rules), observer_(observer), guard_(std::move(guard)) {}
  void removeAllDeliveredNotifications();
  void deliverNotification(std::shared_ptr<UserNotification> notification);
  void setDelegate(std::shared_ptr<UserNotificationCenterDelegate> delegate);
  void removeDeliveredNotification(const std::shared_ptr<UserNotification>& notification);
  std::size_t deliveredCount() const { return delivered_.size(); }

 private:
  void answered(const std::shared_ptr<UserNotification>& notification, UserAnswer answer);

  DesktopBackend& backend_;
  DesktopRules rules_;
  DesktopObserver* observer_;
  Guard guard_;
  std::vector<std::pair<std::shared_ptr<UserNotification>, NotificationId>> delivered_;
  std::shared_ptr<UserNotificationCenterDelegate> delegate_;
  bool answered_ = false;  // the first answer wins
};

// The process's desktop. A process without one (a diagnostics tool that only reads the SMC) has
// no main queue or notifications to offer: asking then is a programming error (std::logic_error).
Desktop& desktop();
// Only the process's composition (composition/composition.h) sets it.
void installDesktop(std::shared_ptr<Desktop> desktop);
std::shared_ptr<Desktop> installedDesktop();

}  // namespace ventra::app::platform
