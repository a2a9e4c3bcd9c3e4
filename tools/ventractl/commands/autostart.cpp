// ventractl autostart enable|disable|status: the user's XDG autostart entry for the app, copied
// from the one installed with it, so the entry and its launch hint have a single source.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "app/controller.h"
#include "commands/commands.h"
#include "commands/session.h"
#include "files/small_files.h"
#include "host/data_dirs.h"
#include "host/desktop_entry.h"
#include "host/host.h"
#include "host/this_program.h"
#include "line/options.h"
#include "smc/utf8.h"
#include "views/eligibility_rows.h"

namespace ventra::ctl {
namespace {
namespace fs = std::filesystem;

// A path from the user's environment as text output shows it: bytes that are not UTF-8, and
// control characters, escaped ("\xFF").
std::string shownPath(const fs::path& path) {
  return utf8::escapeControls(path.string());
}

fs::path userEntry() {
  fs::path base = files::userConfigDirectory();
  if (base.empty())
    throw CommandError("neither XDG_CONFIG_HOME nor HOME is set to an absolute directory");
  return base / "autostart" / "ventra.desktop";
}

// Under `sudo -E` HOME is still the user's while we are root: directories made there would be
// root's. The nearest existing directory above the entry must be the caller's own.
void refuseAnotherUsersHome(const fs::path& entry) {
  fs::path existing = entry.parent_path();
  std::error_code error;
  while (!fs::exists(existing, error) && existing.has_relative_path())
    existing = existing.parent_path();
  struct stat status {};
  if (::stat(existing.c_str(), &status) == 0 && status.st_uid != ::geteuid())
    throw CommandError(
        existing.string() + " belongs to user " + std::to_string(status.st_uid) +
        ", not to this one (" + std::to_string(::geteuid()) +
        "); run ventractl autostart as the user whose login it is for, without sudo");
}

// The installed entry's text: a regular file of a few kilobytes at most. A FIFO, a device or a
// directory there is refused, not read.
std::string installedEntry() {
  constexpr std::size_t kLargestEntry = 64 * 1024;
  std::string searched;
  auto found = findData("ventra-autostart.desktop", searched);                   // installed
  if (!found) found = findData("packaging/ventra-autostart.desktop", searched);  // a checkout
  if (!found)
    throw CommandError("the autostart entry is not installed (looked in " + searched + ")");
  std::string problem;
  auto text = files::readSmallFile(*found, kLargestEntry, true, problem);
  if (!text)
    throw CommandError("cannot read the installed autostart entry: " +
                       (problem.empty() ? found->string() + " is gone" : problem));
  return *text;
}

// The app this ventractl came with: beside it once installed, or in its own build tree.
fs::path installedApp() {
  auto self = thisProgram();
  if (!self) throw CommandError("cannot tell where ventractl is installed (/proc/self/exe)");
  fs::path beside = self->parent_path() / "ventra";
  if (::access(beside.c_str(), X_OK) == 0) return beside;
  fs::path built = self->parent_path().parent_path() / "ventra" / "ventra";
  if (isTheBuildFolder(self->parent_path()) && ::access(built.c_str(), X_OK) == 0) return built;
  throw CommandError("ventra is not installed beside " + self->string() +
                     ": install both programs, then enable autostart");
}

// The entry is made on any host; one the app would not act on gets a word now rather than a
// silent quit at every login.
void noteWhereTheAppWouldNotAct(Context& context) {
  if (hostUnavailable()) return;
  SelectedHost host(context.options);
  const app::Eligibility found = app::checkEveryTest();
  using Test = app::Eligibility::Test;
  if (!found.failed || *found.failed == Test::firstProbe || *found.failed == Test::secondProbe)
    return;
  context.err << "ventractl: note: ventra acts only on a MacPro5,1 with an AMD Radeon RX 580 8 GB; "
                 "here the "
              << testLabel(*found.failed)
              << " test fails, so at each login it will quit without a word ('ventractl check' "
                 "shows why)\n";
}

int enable(Context& context) {
  fs::path entry = userEntry();
  refuseAnotherUsersHome(entry);
  fs::path app = installedApp();
  if (auto why = whyNoEntryCanRun(app)) throw CommandError("autostart not enabled: " + *why);
  auto text = entryRunning(installedEntry(), app);
  if (!text) throw CommandError("the installed autostart entry has no Exec line: not enabled");
  if (files::replaceFile(entry, *text) != 0) throw CommandError("cannot write " + entry.string());
  context.out << "autostart enabled: " << shownPath(entry) << " starts " << shownPath(app) << "\n";
  noteWhereTheAppWouldNotAct(context);
  return 0;
}

int disable(Context& context) {
  fs::path entry = userEntry();
  std::error_code error;
  bool removed = fs::remove(entry, error);
  if (error) throw CommandError("cannot remove " + entry.string() + ": " + error.message());
  context.out << (removed ? "autostart disabled: removed " : "autostart was not enabled: no ")
              << shownPath(entry) << "\n";
  return 0;
}

int status(Context& context) {
  fs::path entry = userEntry();
  std::error_code error;
  bool enabled = fs::exists(entry, error);
  if (context.options.json) {
    printJson(context, {{"enabled", enabled}, {"entry", entry.string()}});
    return 0;
  }
  context.out << "autostart " << (enabled ? "enabled: " : "disabled (no ") << shownPath(entry)
              << (enabled ? "" : ")") << "\n";
  return 0;
}

int runAutostart(Context& context, const Arguments& args) {
  expectArguments(args, 1, "autostart enable|disable|status");
  if (auto missing = hostUnavailable()) throw CommandError(*missing);  // no ventra to start
  if (args[0] == "enable") return enable(context);
  if (args[0] == "disable") return disable(context);
  if (args[0] == "status") return status(context);
  throw UsageError("usage: ventractl autostart enable|disable|status");
}

}  // namespace

CommandDefinition autostartCommand() {
  return {"autostart",
          "start the app at login (~/.config/autostart/ventra.desktop)",
          {{"ACTION",
            "enable, disable or status",
            true,
            Completion::choices,
            {"enable", "disable", "status"},
            false}},
          {{option::json, R"(print {"enabled", "entry"} (status))"}},
          {},
          runAutostart};
}

}  // namespace ventra::ctl
