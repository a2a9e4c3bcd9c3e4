#include "host/desktop_entry.h"

#include <algorithm>
#include <sstream>
#include <string_view>

namespace ventra::ctl {
namespace {

// A value of type string: a backslash is written as two.
std::string escaped(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

// An Exec word: plain where it can be, else in double quotes with ", `, $ and \ escaped; "%"
// doubled so no field code is read into it. Then escaped as any string value.
std::string execWord(std::string_view word) {
  bool plain = std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("/._+-,@=:").find(c) != std::string_view::npos;
  });
  std::string out;
  for (char c : word) {
    if (c == '%') out += '%';
    if (!plain && std::string_view("\"`$\\").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return escaped(plain ? out : '"' + out + '"');
}

}  // namespace

std::string entryRunning(const std::string& entry, const std::filesystem::path& app) {
  std::istringstream in(entry);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("TryExec=")) continue;
    if (line.starts_with("Exec=")) {
      auto arguments = line.find(' ');
      out += "TryExec=" + escaped(app.string()) + "\n";
      out += "Exec=" + execWord(app.string()) +
             (arguments == std::string::npos ? "" : line.substr(arguments)) + "\n";
      continue;
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace ventra::ctl
