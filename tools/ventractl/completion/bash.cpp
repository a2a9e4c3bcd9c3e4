#include "completion/completion_text.h"
#include "completion/completions.h"
#include "line/options.h"

namespace ventra::ctl {
namespace {
using namespace completion;

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
    case Completion::profile:
    case Completion::scenario:
      return "COMPREPLY=($(compgen -f -X '!*.json' -- \"$cur\") $(compgen -d -- \"$cur\") "
             "$(compgen -W \"$(\"${COMP_WORDS[0]}\" " +
             bundledListCommand(completion) + " 2>/dev/null | cut -d' ' -f1)\" -- \"$cur\"))";
    case Completion::none:
      break;
  }
  return "COMPREPLY=()";
}

std::vector<std::string> optionWords(const std::vector<OptionUse>& uses) {
  std::vector<std::string> words;
  for (const auto& use : uses)
    for (const auto& name : spellings(use.option())) words.push_back(name);
  words.push_back("--help");
  return words;
}

std::vector<std::string> valuedOptionWords(const CommandTable& table) {
  std::vector<std::string> words;
  for (const auto* option : everyOption(table))
    if (!option->value.empty())
      for (const auto& name : spellings(*option)) words.push_back(name);
  return words;
}

// Which command the words so far name, and how many arguments follow it.
std::string bashCommandScan(const CommandTable& table) {
  std::string transitions;
  eachCommand(table, [&](const std::string& path, const CommandDefinition& command) {
    auto space = path.rfind(' ');
    std::string parent = space == std::string::npos ? "" : path.substr(0, space);
    transitions += "      " + quoted(parent + "|" + command.name) + ") command=" + quoted(path) +
                   "; continue ;;\n";
  });
  return "  local command= arguments=0 word i\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    word=${COMP_WORDS[i]}\n"
         "    case \" " +
         spaced(valuedOptionWords(table)) +
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

std::string bashOptionValues(const CommandTable& table) {
  std::string cases;
  for (const auto* option : everyOption(table)) {
    if (option->value.empty()) continue;
    std::string pattern;
    for (const auto& name : spellings(*option)) pattern += (pattern.empty() ? "" : "|") + name;
    cases +=
        "    " + pattern + ") " + bashValues(option->completion, option->choices) + "; return ;;\n";
  }
  return "  case $prev in\n" + cases + "  esac\n";
}

std::string bashArguments(const CommandDefinition& command) {
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

std::string bashCommands(const CommandTable& table) {
  std::vector<std::string> top;
  for (const auto& command : table) top.push_back(command.name);
  std::string topWords = spaced(optionWords(smcAnd({}))) + " --version";
  std::string cases = "    '') words=" + quoted(topWords) +
                      "; [[ $cur == -* ]] || { COMPREPLY=($(compgen -W " + quoted(spaced(top)) +
                      " -- \"$cur\")); return; } ;;\n";
  eachCommand(table, [&](const std::string& path, const CommandDefinition& command) {
    cases += "    " + quoted(path) + ") words=" + quoted(spaced(optionWords(command.options))) +
             "; [[ $cur == -* ]] || { " + bashArguments(command) + "; return; } ;;\n";
  });
  return "  local words\n  case $command in\n" + cases + "  esac\n" +
         "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n";
}

}  // namespace

std::string bashCompletion(const CommandTable& table) {
  return "# bash completion for ventractl, written by `ventractl completion bash`\n"
         "_ventractl() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n" +
         bashOptionValues(table) + bashCommandScan(table) + bashCommands(table) +
         "}\n"
         "complete -F _ventractl ventractl\n";
}

}  // namespace ventra::ctl
