#pragma once

#include <filesystem>
#include <memory>

#include "app/platform/desktop.h"

namespace ventra::app::linux_desktop {

// The user notification centre over org.freedesktop.Notifications on the session bus.
// "Reset" and "Cancel" are actions; a click on the body is the "default" action. The ids of
// delivered notifications are kept in `stateFile` so the next run can close what this one left.
std::shared_ptr<platform::UserNotificationCenter> freedesktopNotificationCenter(
    std::filesystem::path stateFile);

}  // namespace ventra::app::linux_desktop
