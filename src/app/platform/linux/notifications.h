#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "app/platform/desktop.h"

namespace ventra::app::linux_desktop {

// Notifications over org.freedesktop.Notifications on the session bus.
// "Reset" and "Cancel" are actions; a click on the body is the "default" action. Notify is
// asynchronous, so a slow server never holds up the main thread; a server that does not answer
// at all (a stopped process) is sent nothing, since what it showed later would be an alert
// nobody waits on. The ids of delivered notifications are kept in `stateFile` (none kept when it
// is empty) with the server that gave them, so the next run closes what this one left only on
// that same server, never another program's notification that a later server gave the same id.
class FreedesktopNotificationCenter {
 public:
  virtual ~FreedesktopNotificationCenter() = default;
  // As DesktopBackend::show and withdraw.
  virtual platform::NotificationId show(const platform::UserNotification& content,
                                        double expirySeconds,
                                        std::function<void(platform::UserAnswer)> answered) = 0;
  virtual void withdraw(std::optional<platform::NotificationId> which) = 0;
  // Waits, at most `limit`, for answers to Notify calls still outstanding: what was removed
  // meanwhile is closed, the rest recorded for the next run. Called once the app has quit.
  virtual void settle(std::chrono::milliseconds limit) = 0;
};

std::shared_ptr<FreedesktopNotificationCenter> freedesktopNotificationCenter(
    std::filesystem::path stateFile);

// At most this many ids are kept and closed: one run delivers one notification.
inline constexpr std::size_t kMaxRememberedNotifications = 16;

}  // namespace ventra::app::linux_desktop
