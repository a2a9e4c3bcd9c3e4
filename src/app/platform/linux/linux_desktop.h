#pragma once

// The desktop on Linux: a GLib main loop for the main queue, freedesktop notifications over
// D-Bus, the user default in an INI file, Super as the Command key (X11), the host model from
// DMI, and a launch hint on the autostart entry's command line for login-item launches.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/platform/desktop.h"

namespace ventra::app::linux_desktop {

// What our XDG autostart entry puts on the Exec line: the desktop itself adds no marker.
inline constexpr char kLoginItemArgument[] = "--launched-as-login-item";

struct LinuxPaths {
  std::filesystem::path productName = "/sys/class/dmi/id/product_name";
  std::filesystem::path defaultsFile;       // default: $XDG_CONFIG_HOME/ventra/defaults.ini
  std::filesystem::path notificationState;  // default: $XDG_RUNTIME_DIR/ventra/delivered
};

// Where the modifier keys come from: X11 unless a host is scripted.
using ModifierSource = std::function<std::uint64_t()>;

// Where a stored setting that cannot be used (a DelayAtLogin that is no number) is said: the app
// says nothing and goes on with the default, as it would anywhere; a tool may tell its user.
using SettingProblems = std::function<void(const std::string& problem)>;

// The backend under the process's Desktop.
std::shared_ptr<platform::DesktopBackend> makeLinuxDesktop(LinuxPaths paths = {},
                                                           ModifierSource modifiers = {},
                                                           SettingProblems problems = {});

// X11 modifier mask (XQueryPointer) to the platform's device-independent modifier flags.
std::uint64_t modifierFlagsFromX11(unsigned int mask);

// The modifiers held now on the X display; none without a display or past `limit`.
std::uint64_t queryModifierFlags(std::chrono::milliseconds limit);

// Waits up to `limit` for questions that ran past their limit to end; whether none is left.
// Xlib tears its locks down when the process exits, so one that wakes up then would crash:
// the app gives them a moment at quit.
bool waitForModifierQueries(std::chrono::milliseconds limit);

// The host model text for the sysctl query, from the DMI product name file: nothing when the
// file is missing or unreadable. A trailing newline is not part of the model.
std::optional<std::string> readProductName(const std::filesystem::path& file);

// The number stored under `key` in group [Ventra] of an INI file. Nothing when the file or key
// is absent; `problem` says why a value present could not be used.
std::optional<double> readStoredNumber(const std::filesystem::path& file, const std::string& key,
                                       std::string& problem);
// The same for a text, stripped of surrounding blanks.
std::optional<std::string> readStoredText(const std::filesystem::path& file, const std::string& key,
                                          std::string& problem);

// $XDG_CONFIG_HOME/ventra/defaults.ini; empty where there is no configuration directory.
std::filesystem::path userDefaultsFile();

}  // namespace ventra::app::linux_desktop
