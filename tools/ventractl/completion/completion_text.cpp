#include "completion/completion_text.h"

namespace ventra::ctl::completion {

std::string spaced(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

std::string bundledListCommand(Completion completion) {
  return completion == Completion::profile ? "profiles" : "scenarios";
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace ventra::ctl::completion
