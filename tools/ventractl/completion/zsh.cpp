#include "completion/completion_text.h"
#include "completion/completions.h"
#include "line/options.h"

namespace ventra::ctl {
namespace {
using namespace completion;

std::string zshValues(const std::string& label, Completion completion,
                      const std::vector<std::string>& choices) {
  switch (completion) {
    case Completion::jsonFile:
      return ":" + label + ":_files -g '*.json'";
    case Completion::file:
      return ":" + label + ":_files";
    case Completion::directory:
      return ":" + label + ":_files -/";
    case Completion::choices:
      return ":" + label + ":(" + spaced(choices) + ")";
    case Completion::profile:
    case Completion::scenario:
      return ":" + label + ":_ventractl_bundled " + bundledListCommand(completion);
    case Completion::none:
      break;
  }
  return ":" + label + ": ";
}

// One _arguments definition per spelling, excluding the other spellings once one is given.
std::vector<std::string> zshOption(const OptionDefinition& option, std::string help) {
  auto all = spellings(option);
  const std::string spellings = spaced(all);
  std::string exclusion = all.size() > 1 ? "(" + spellings + ")" : "";
  for (char& c : help) {  // brackets end the description
    if (c == '[') c = '(';
    if (c == ']') c = ')';
  }
  std::string value =
      option.value.empty() ? "" : zshValues(option.value, option.completion, option.choices);
  std::vector<std::string> definitions;
  for (const auto& name : all)
    definitions.push_back(quoted(exclusion + name + "[" + help + "]" + value));
  return definitions;
}

std::string zshArgumentsFor(const CommandDefinition& command) {
  std::string text = "_arguments -s";
  for (const auto& use : command.options)
    for (const auto& definition : zshOption(use.option(), use.help())) text += " " + definition;
  text += " '(- *)'{-h,--help}'[this help]'";
  for (std::size_t i = 0; i < command.arguments.size(); ++i) {
    const auto& argument = command.arguments[i];
    text += " ";
    const std::string position = argument.many ? "*" : std::to_string(i + 1);
    text += quoted(std::string(argument.required || argument.many ? "" : ":") + position +
                   zshValues(argument.name, argument.completion, argument.choices));
  }
  if (!command.subcommands.empty()) {
    std::vector<std::string> subs;
    for (const auto& sub : command.subcommands) subs.push_back(sub.name);
    const std::string choices = spaced(subs);
    text += " ";
    text += quoted("1:command:(" + choices + ")");
  }
  return text;
}

std::string zshCommandCases(const CommandTable& table) {
  std::string cases;
  for (const auto& command : table) {
    std::string inner = zshArgumentsFor(command);
    for (const auto& sub : command.subcommands)
      inner = "if [[ $words[2] == " + sub.name + " ]]; then shift words; ((CURRENT--)); " +
              zshArgumentsFor(sub) + "; else " + inner + "; fi";
    cases += "        " + command.name + ") " + inner + " ;;\n";
  }
  return cases;
}

}  // namespace

std::string zshCompletion(const CommandTable& table) {
  std::string commands;
  for (const auto& command : table)
    commands += "    " + quoted(command.name + ":" + command.help) + "\n";
  std::string top;
  for (const auto* option : kSmcOptions)
    for (const auto& definition : zshOption(*option, option->help)) top += " " + definition;
  return "#compdef ventractl\n"
         "# zsh completion for ventractl, written by `ventractl completion zsh`\n"
         "# A JSON file, or a bundled one by name (ventractl profiles, ventractl scenarios).\n"
         "_ventractl_bundled() {\n"
         "  local -a bundled\n"
         "  bundled=(${(f)\"$(command ventractl $1 2>/dev/null | cut -d' ' -f1)\"})\n"
         "  _alternative 'files:file:_files -g \"*.json\"' \"bundled:bundled $1:(${bundled[*]})\"\n"
         "}\n"
         "_ventractl() {\n"
         "  local curcontext=$curcontext state line\n"
         "  local -a commands\n"
         "  commands=(\n" +
         commands +
         "  )\n"
         "  _arguments -C" +
         top +
         " '--version[version, commit and backends]' '(- *)'{-h,--help}'[this help]'"
         " '1:command:->command' '*::argument:->argument'\n"
         "  case $state in\n"
         "    command) _describe command commands ;;\n"
         "    argument)\n"
         "      case $words[1] in\n" +
         zshCommandCases(table) +
         "      esac ;;\n"
         "  esac\n"
         "}\n"
         "_ventractl \"$@\"\n";
}

}  // namespace ventra::ctl
