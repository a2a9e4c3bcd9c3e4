#include "completions.h"

#include <functional>

#include "command_specs.h"

namespace ventra::ctl {
namespace {

using Visit = std::function<void(const std::string& path, const CommandSpec& command)>;

void eachCommand(const std::vector<CommandSpec>& level, const std::string& prefix,
                 const Visit& visit) {
  for (const auto& command : level) {
    visit(prefix + command.name, command);
    eachCommand(command.subcommands, prefix + command.name + " ", visit);
  }
}

std::vector<std::string> names(const OptionSpec& option) {
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

// Single quotes for the shells, with any quote inside closed and reopened.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string bashValues(Completion completion, const std::vector<std::string>& choices) {
  switch (completion) {
    case Completion::jsonFile:
      return "COMPREPLY=($(compgen -f -X '!*.json' -- \"$cur\") $(compgen -d -- \"$cur\"))";
    case Completion::file:
      return "COMPREPLY=($(compgen -f -- \"$cur\"))";
    case Completion::directory:
      return "COMPREPLY=($(compgen -d -- \"$cur\"))";
    case Completion::choices:
      return "COMPREPLY=($(compgen -W " + quoted(spaced(choices)) + " -- \"$cur\"))";
    case Completion::none:
      break;
  }
  return "COMPREPLY=()";
}

std::vector<std::string> optionWords(const std::vector<std::string>& keys) {
  std::vector<std::string> words;
  for (const auto& key : keys)
    for (const auto& name : names(optionSpec(key))) words.push_back(name);
  words.push_back("--help");
  return words;
}

std::vector<std::string> valuedOptionWords() {
  std::vector<std::string> words;
  for (const auto& option : optionSpecs())
    if (!option.value.empty())
      for (const auto& name : names(option)) words.push_back(name);
  return words;
}

// Which command the words so far name, and how many arguments follow it.
std::string bashCommandScan() {
  std::string transitions;
  eachCommand(commandSpecs(), "", [&](const std::string& path, const CommandSpec& command) {
    auto space = path.rfind(' ');
    std::string parent = space == std::string::npos ? "" : path.substr(0, space);
    transitions += "      " + quoted(parent + "|" + command.name) + ") command=" + quoted(path) +
                   "; continue ;;\n";
  });
  return "  local command= arguments=0 word i\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    word=${COMP_WORDS[i]}\n"
         "    case \" " +
         spaced(valuedOptionWords()) +
         " \" in\n"
         "      *\" $word \"*) ((i++)); continue ;;\n"
         "    esac\n"
         "    [[ $word == -* ]] && continue\n"
         "    case \"$command|$word\" in\n" +
         transitions +
         "    esac\n"
         "    ((arguments++))\n"
         "  done\n";
}

std::string bashOptionValues() {
  std::string cases;
  for (const auto& option : optionSpecs()) {
    if (option.value.empty()) continue;
    std::string pattern;
    for (const auto& name : names(option)) pattern += (pattern.empty() ? "" : "|") + name;
    cases +=
        "    " + pattern + ") " + bashValues(option.completion, option.choices) + "; return ;;\n";
  }
  return "  case $prev in\n" + cases + "  esac\n";
}

std::string bashArguments(const CommandSpec& command) {
  std::vector<std::string> subcommands;
  for (const auto& sub : command.subcommands) subcommands.push_back(sub.name);
  if (!subcommands.empty())
    return "[[ $arguments == 0 ]] && COMPREPLY=($(compgen -W " + quoted(spaced(subcommands)) +
           " -- \"$cur\"))";
  std::string cases;
  for (std::size_t i = 0; i < command.arguments.size(); ++i) {
    const auto& argument = command.arguments[i];
    cases += std::to_string(i) + ") " + bashValues(argument.completion, argument.choices) + " ;; ";
  }
  return cases.empty() ? ":" : "case $arguments in " + cases + "esac";
}

std::string bashCommands() {
  std::vector<std::string> top;
  for (const auto& command : commandSpecs()) top.push_back(command.name);
  std::string topWords = spaced(optionWords(kSmcOptions)) + " --version";
  std::string cases = "    '') words=" + quoted(topWords) +
                      "; [[ $cur == -* ]] || { COMPREPLY=($(compgen -W " + quoted(spaced(top)) +
                      " -- \"$cur\")); return; } ;;\n";
  eachCommand(commandSpecs(), "", [&](const std::string& path, const CommandSpec& command) {
    cases += "    " + quoted(path) + ") words=" + quoted(spaced(optionWords(command.options))) +
             "; [[ $cur == -* ]] || { " + bashArguments(command) + "; return; } ;;\n";
  });
  return "  local words\n  case $command in\n" + cases + "  esac\n" +
         "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n";
}

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
    case Completion::none:
      break;
  }
  return ":" + label + ": ";
}

// One _arguments spec per spelling, excluding the other spellings once one is given.
std::vector<std::string> zshOption(const OptionSpec& option) {
  auto all = names(option);
  std::string exclusion = all.size() > 1 ? "(" + spaced(all) + ")" : "";
  std::string help = option.help;
  for (char& c : help) {  // brackets end the description
    if (c == '[') c = '(';
    if (c == ']') c = ')';
  }
  std::string value =
      option.value.empty() ? "" : zshValues(option.value, option.completion, option.choices);
  std::vector<std::string> specs;
  for (const auto& name : all) specs.push_back(quoted(exclusion + name + "[" + help + "]" + value));
  return specs;
}

std::string zshArgumentsFor(const CommandSpec& command) {
  std::string text = "_arguments -s";
  for (const auto& key : command.options)
    for (const auto& spec : zshOption(optionSpec(key))) text += " " + spec;
  text += " '(- *)'{-h,--help}'[this help]'";
  for (std::size_t i = 0; i < command.arguments.size(); ++i) {
    const auto& argument = command.arguments[i];
    text += " ";
    text += quoted(std::string(argument.required ? "" : ":") + std::to_string(i + 1) +
                   zshValues(argument.name, argument.completion, argument.choices));
  }
  if (!command.subcommands.empty()) {
    std::vector<std::string> subs;
    for (const auto& sub : command.subcommands) subs.push_back(sub.name);
    text += " " + quoted("1:command:(" + spaced(subs) + ")");
  }
  return text;
}

std::string zshCommandCases() {
  std::string cases;
  for (const auto& command : commandSpecs()) {
    std::string inner = zshArgumentsFor(command);
    for (const auto& sub : command.subcommands)
      inner = "if [[ $words[2] == " + sub.name + " ]]; then shift words; ((CURRENT--)); " +
              zshArgumentsFor(sub) + "; else " + inner + "; fi";
    cases += "        " + command.name + ") " + inner + " ;;\n";
  }
  return cases;
}

std::string fishCondition(const std::string& path) {
  auto space = path.find(' ');
  if (space != std::string::npos) return "__fish_seen_subcommand_from " + path.substr(space + 1);
  std::string condition = "__fish_seen_subcommand_from " + path;
  for (const auto& command : commandSpecs())
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
    case Completion::none:
      break;
  }
  return " -x";
}

std::string fishOption(const std::string& condition, const OptionSpec& option) {
  std::string line = "complete -c ventractl -n " + quoted(condition);
  for (const auto& name : names(option))
    line += name.size() == 2 ? " -s " + name.substr(1) : " -l " + name.substr(2);
  if (!option.value.empty()) line += fishValues(option.completion, option.choices);
  return line + " -d " + quoted(option.help) + "\n";
}

std::string fishCommand(const std::string& path, const CommandSpec& command) {
  auto space = path.rfind(' ');
  std::string where =
      space == std::string::npos ? "__fish_use_subcommand" : fishCondition(path.substr(0, space));
  std::string text = "complete -c ventractl -n " + quoted(where) + " -a " + quoted(command.name) +
                     " -d " + quoted(command.help) + "\n";
  std::string condition = fishCondition(path);
  for (const auto& key : command.options) text += fishOption(condition, optionSpec(key));
  text += "complete -c ventractl -n " + quoted(condition) + " -s h -l help -d 'this help'\n";
  for (const auto& argument : command.arguments)
    if (argument.completion != Completion::none)
      text += "complete -c ventractl -n " + quoted(condition) +
              fishValues(argument.completion, argument.choices) + "\n";
  return text;
}

}  // namespace

std::string zshCompletion() {
  std::string commands;
  for (const auto& command : commandSpecs())
    commands += "    " + quoted(command.name + ":" + command.help) + "\n";
  std::string top;
  for (const auto& key : kSmcOptions)
    for (const auto& spec : zshOption(optionSpec(key))) top += " " + spec;
  return "#compdef ventractl\n"
         "# zsh completion for ventractl, written by `ventractl completion zsh`\n"
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
         zshCommandCases() +
         "      esac ;;\n"
         "  esac\n"
         "}\n"
         "_ventractl \"$@\"\n";
}

std::string fishCompletion() {
  std::string text =
      "# fish completion for ventractl, written by `ventractl completion fish`\n"
      "complete -c ventractl -f\n";
  for (const auto& key : kSmcOptions) text += fishOption("__fish_use_subcommand", optionSpec(key));
  text +=
      "complete -c ventractl -n __fish_use_subcommand -l version -d 'version, commit and "
      "backends'\n";
  eachCommand(commandSpecs(), "", [&](const std::string& path, const CommandSpec& command) {
    text += fishCommand(path, command);
  });
  return text;
}

std::string bashCompletion() {
  return "# bash completion for ventractl, written by `ventractl completion bash`\n"
         "_ventractl() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n" +
         bashOptionValues() + bashCommandScan() + bashCommands() +
         "}\n"
         "complete -F _ventractl ventractl\n";
}

}  // namespace ventra::ctl
