#pragma once

// The user's autostart entry, made from the installed one with the app named by its absolute
// path: a desktop session's PATH may lack ~/.local/bin, and TryExec lets the session pass over
// an entry whose app has since been removed.

#include <filesystem>
#include <string>

namespace ventra::ctl {

// `entry` with its Exec program replaced by `app` (its arguments kept) and a TryExec line for
// `app`, both written by the desktop entry rules for quoting and escapes.
std::string entryRunning(const std::string& entry, const std::filesystem::path& app);

}  // namespace ventra::ctl
