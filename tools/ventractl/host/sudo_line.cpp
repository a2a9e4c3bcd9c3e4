#include "host/sudo_line.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "host/this_program.h"

namespace ventra::ctl {
namespace fs = std::filesystem;
namespace {

std::string shellWord(const std::string& word) {
  // zsh expands a word that starts with "=" (=cmd is the path of cmd): such a word is quoted.
  bool plain =
      !word.empty() && word.front() != '=' && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("-_./=:,+@%").find(c) != std::string_view::npos;
      });
  if (plain) return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string sudoLine(const fs::path& executable, const std::vector<std::string>& arguments) {
  bool found = std::find(kSudoSecurePath.begin(), kSudoSecurePath.end(),
                         executable.parent_path()) != kSudoSecurePath.end();
  std::string line =
      "sudo " + shellWord(found ? executable.filename().string() : executable.string());
  for (const auto& word : arguments) line += " " + shellWord(word);
  return line;
}

std::string sudoLineForThisProcess() {
  auto self = thisProgram();
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), {});
  if (!self || text.empty()) return "sudo ventractl";
  std::vector<std::string> words;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\0', at);
    if (end == std::string::npos) end = text.size();
    words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  words.erase(words.begin());  // the program as it was called; `self` names it exactly
  return sudoLine(*self, words);
}

}  // namespace ventra::ctl
