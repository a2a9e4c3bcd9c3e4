#pragma once

// The user's autostart entry, made from the installed one with the app named by its absolute
// path: a desktop session's PATH may lack ~/.local/bin, and TryExec lets the session pass over
// an entry whose app has since been removed.

#include <filesystem>
#include <optional>
#include <string>

namespace ventra::ctl {

// Why no entry could start `app` as written: a path that is not UTF-8, holds a control character
// (a newline would start a line of its own), or a "%" (GLib takes the program from the Exec line
// with its "%%" and finds no such file); nothing where one can.
std::optional<std::string> whyNoEntryCanRun(const std::filesystem::path& app);

// `entry` with its Exec program replaced by `app` (its arguments kept) and a TryExec line for
// `app`, both written by the desktop entry rules for quoting and escapes; nothing where the
// entry has no Exec line. `app` is one whyNoEntryCanRun accepts.
std::optional<std::string> entryRunning(const std::string& entry, const std::filesystem::path& app);

}  // namespace ventra::ctl
