#pragma once

// The desktop platform port: application start and terminate, user defaults, the launching
// event, modifier flags, the user notification centre, the main queue and the host model query,
// shaped like the platform they come from. The backend is installed by the
// process's composition; the core reaches the desktop only through these declarations.

#include <cstddef>
#include <cstdint>
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

class UserNotificationCenter {
 public:
  virtual ~UserNotificationCenter() = default;
  virtual void removeAllDeliveredNotifications() = 0;
  virtual void deliverNotification(std::shared_ptr<UserNotification> notification) = 0;
  virtual void setDelegate(std::shared_ptr<UserNotificationCenterDelegate> delegate) = 0;
  virtual void removeDeliveredNotification(
      const std::shared_ptr<UserNotification>& notification) = 0;
};

using DefaultValue = std::variant<std::int64_t, double>;

// The value a user stored under a key, if any: the one thing a desktop backend knows of defaults.
using StoredDefault = std::function<std::optional<DefaultValue>(const std::string& key)>;

// User defaults: the stored value, else the registered one, else 0. Written once here; a desktop
// supplies only the stored value. Virtual so a decorator can watch what the app asks.
class UserDefaults {
 public:
  explicit UserDefaults(StoredDefault stored) : stored_(std::move(stored)) {}
  virtual ~UserDefaults() = default;
  virtual void registerDefaults(const std::map<std::string, DefaultValue>& defaults);
  // Numbers of either kind as a double; the stored value is looked up at each call, so a change
  // made after launch still counts.
  virtual double doubleForKey(const std::string& key);

 private:
  StoredDefault stored_;
  std::map<std::string, DefaultValue> registered_;
};

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

class DesktopPlatform {
 public:
  virtual ~DesktopPlatform() = default;
  // Creates the delegate, calls its launch callback once, then serves the main queue until
  // terminate. Returns the process's exit status where the platform returns at all.
  virtual int applicationMain(
      int argc, char** argv,
      const std::function<std::shared_ptr<ApplicationDelegate>()>& create) = 0;
  // Calls applicationWillTerminate and ends the process; nothing queued runs afterwards.
  virtual void terminate(ApplicationDelegate& sender) = 0;
  // The process's defaults over storedDefault, made at the first call and kept; they ask this
  // platform, so they serve while it lives (the installed desktop lives as long as the process).
  virtual std::shared_ptr<UserDefaults> standardUserDefaults();
  // The value the user stored under `key`, if any, read when asked.
  virtual std::optional<DefaultValue> storedDefault(const std::string& key) = 0;
  virtual std::shared_ptr<UserNotificationCenter> defaultUserNotificationCenter() = 0;
  // During the launch callback: the event that launched the application, if any.
  virtual std::optional<AppleEventDescriptor> currentAppleEvent() = 0;
  virtual std::uint64_t modifierFlags() = 0;
  // Runs `work` once, on the main thread, at the first turn of the main queue after now +
  // `seconds` (a negative delay counts as none; one longer than kLongestDelaySeconds waits that
  // long).
  virtual void asyncAfter(double seconds, std::function<void()> work) = 0;
  // The host model query: 0 on success with a zero-terminated text in `buffer`.
  virtual int sysctl(const int* name, unsigned nameLength, void* buffer, std::size_t* size,
                     const void* newValue, std::size_t newLength) = 0;

 private:
  std::shared_ptr<UserDefaults> standardDefaults_;
};

// The process's desktop. A process without one (a diagnostics tool that only reads the SMC) has
// no main queue or notifications to offer: asking then is a programming error (std::logic_error).
DesktopPlatform& desktop();
// Only the process's composition (composition/composition.h) sets it.
void installDesktopPlatform(std::shared_ptr<DesktopPlatform> platform);
std::shared_ptr<DesktopPlatform> installedDesktopPlatform();

}  // namespace ventra::app::platform
