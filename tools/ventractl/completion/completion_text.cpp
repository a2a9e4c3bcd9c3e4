#include "completion/completion_text.h"

namespace ventra::ctl::completion {

void eachCommand(const std::vector<CommandDefinition>& level, const std::string& prefix,
                 const Visit& visit) {
  for (const auto& command : level) {
    visit(prefix + command.name, command);
    eachCommand(command.subcommands, prefix + command.name + " ", visit);
  }
}

std::vector<std::string> names(const OptionDefinition& option) {
  std::vector<std::string> all;
  for (std::size_t at = 0; at <= option.names.size();) {
    auto comma = option.names.find(',', at);
    if (comma == std::string::npos) comma = option.names.size();
    all.push_back(option.names.substr(at, comma - at));
    at = comma + 1;
  }
  return all;
}

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
