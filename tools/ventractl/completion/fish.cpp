#include "completion/completion_text.h"
#include "completion/completions.h"
#include "line/options.h"

namespace ventra::ctl {
namespace {
using namespace completion;

std::string fishCondition(const std::string& path, const CommandTable& table) {
  auto space = path.find(' ');
  if (space != std::string::npos) return "__fish_seen_subcommand_from " + path.substr(space + 1);
  std::string condition = "__fish_seen_subcommand_from " + path;
  for (const auto& command : table)
    if (command.name == path && !command.subcommands.empty())
      for (const auto& sub : command.subcommands)
        condition += "; and not __fish_seen_subcommand_from " + sub.name;
  return condition;
}

std::string fishValues(Completion completion, const std::vector<std::string>& choices) {
  switch (completion) {
    case Completion::jsonFile:
      return " -r -F -a '(__fish_complete_suffix .json)'";
    case Completion::file:
      return " -r -F";
    case Completion::directory:
      return " -r -a '(__fish_complete_directories)'";
    case Completion::choices:
      return " -x -a " + quoted(spaced(choices));
    case Completion::profile:
    case Completion::scenario:
      return " -r -F -a '(__fish_complete_suffix .json) (ventractl " +
             bundledListCommand(completion) + " 2>/dev/null | string split -f1 \" \")'";
    case Completion::none:
      break;
  }
  return " -x";
}

std::string fishOption(const std::string& condition, const OptionDefinition& option,
                       const std::string& help) {
  std::string line = "complete -c ventractl -n " + quoted(condition);
  for (const auto& name : spellings(option))
    line += name.size() == 2 ? " -s " + name.substr(1) : " -l " + name.substr(2);
  if (!option.value.empty()) line += fishValues(option.completion, option.choices);
  return line + " -d " + quoted(help) + "\n";
}

std::string fishCommand(const std::string& path, const CommandDefinition& command,
                        const CommandTable& table) {
  auto space = path.rfind(' ');
  std::string where = space == std::string::npos ? "__fish_use_subcommand"
                                                 : fishCondition(path.substr(0, space), table);
  std::string text = "complete -c ventractl -n " + quoted(where) + " -a " + quoted(command.name) +
                     " -d " + quoted(command.help) + "\n";
  std::string condition = fishCondition(path, table);
  for (const auto& use : command.options) text += fishOption(condition, use.option(), use.help());
  text += "complete -c ventractl -n " + quoted(condition) + " -s h -l help -d 'this help'\n";
  for (const auto& argument : command.arguments)
    if (argument.completion != Completion::none)
      text += "complete -c ventractl -n " + quoted(condition) +
              fishValues(argument.completion, argument.choices) + "\n";
  return text;
}

}  // namespace

std::string fishCompletion(const CommandTable& table) {
  std::string text =
      "# fish completion for ventractl, written by `ventractl completion fish`\n"
      "complete -c ventractl -f\n";
  for (const auto* option : kSmcOptions)
    text += fishOption("__fish_use_subcommand", *option, option->help);
  text +=
      "complete -c ventractl -n __fish_use_subcommand -l version -d 'version, commit and "
      "backends'\n";
  eachCommand(table, [&](const std::string& path, const CommandDefinition& command) {
    text += fishCommand(path, command, table);
  });
  return text;
}

}  // namespace ventra::ctl
