#include "host/desktop_entry.h"

#include <algorithm>
#include <sstream>
#include <string_view>

#include "smc/utf8.h"

namespace ventra::ctl {
namespace {

// A value of type string: a backslash is written as two.
std::string escaped(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

// An Exec word: plain where it can be, else in double quotes with ", `, $ and \ escaped. Then
// escaped as any string value. (A "%" would need doubling, which desktops then fail to undo
// when they look for the program: whyNoEntryCanRun refuses it.)
std::string execWord(std::string_view word) {
  bool plain = std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("/._+-,@=:").find(c) != std::string_view::npos;
  });
  std::string out;
  for (char c : word) {
    if (!plain && std::string_view("\"`$\\").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return escaped(plain ? out : '"' + out + '"');
}

}  // namespace

std::optional<std::string> whyNoEntryCanRun(const std::filesystem::path& app) {
  const std::string path = app.string();
  const std::string named = "the app's path " + utf8::escapeControls(path);
  if (!utf8::decode(path)) return named + " is not UTF-8, which a desktop entry must be";
  if (std::any_of(path.begin(), path.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    return named + " holds a control character, which a desktop entry cannot hold";
  if (path.find('%') != std::string::npos)
    return named + " holds a \"%\": desktops would not find the program an entry names";
  return std::nullopt;
}

std::optional<std::string> entryRunning(const std::string& entry,
                                        const std::filesystem::path& app) {
  std::istringstream in(entry);
  std::string out;
  bool runs = false;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("TryExec=")) continue;
    if (line.starts_with("Exec=")) {
      auto arguments = line.find(' ');
      out += "TryExec=" + escaped(app.string()) + "\n";
      out += "Exec=" + execWord(app.string()) +
             (arguments == std::string::npos ? "" : line.substr(arguments)) + "\n";
      runs = true;
      continue;
    }
    out += line + "\n";
  }
  if (!runs) return std::nullopt;
  return out;
}

}  // namespace ventra::ctl
