// ventractl autostart enable|disable|status: the user's XDG autostart entry for the app, copied
// from the one installed with it, so the entry and its launch hint have a single source.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "context.h"
#include "data_dirs.h"
#include "files/small_files.h"

namespace ventra::ctl {
namespace {
namespace fs = std::filesystem;

fs::path userEntry() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  fs::path base = config && *config ? fs::path(config)
                  : home && *home   ? fs::path(home) / ".config"
                                    : fs::path();
  if (base.empty()) throw CommandError("neither XDG_CONFIG_HOME nor HOME is set");
  return base / "autostart" / "ventra.desktop";
}

std::string installedEntry() {
  std::string searched;
  auto found = findData("ventra-autostart.desktop", searched);                   // installed
  if (!found) found = findData("packaging/ventra-autostart.desktop", searched);  // a checkout
  if (!found)
    throw CommandError("the autostart entry is not installed (looked in " + searched + ")");
  std::ifstream in(*found);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int enable(Context& context) {
  fs::path entry = userEntry();
  if (files::replaceFile(entry, installedEntry()) != 0)
    throw CommandError("cannot write " + entry.string());
  context.out << "autostart enabled: " << entry.string() << "\n";
  return 0;
}

int disable(Context& context) {
  fs::path entry = userEntry();
  std::error_code error;
  bool removed = fs::remove(entry, error);
  if (error) throw CommandError("cannot remove " + entry.string() + ": " + error.message());
  context.out << (removed ? "autostart disabled: removed " : "autostart was not enabled: no ")
              << entry.string() << "\n";
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
  context.out << "autostart " << (enabled ? "enabled: " : "disabled (no ") << entry.string()
              << (enabled ? "" : ")") << "\n";
  return 0;
}

}  // namespace

int runAutostart(Context& context, const Arguments& args) {
  expectArguments(args, 1, "autostart enable|disable|status");
  if (args[0] == "enable") return enable(context);
  if (args[0] == "disable") return disable(context);
  if (args[0] == "status") return status(context);
  throw UsageError("usage: ventractl autostart enable|disable|status");
}

}  // namespace ventra::ctl
