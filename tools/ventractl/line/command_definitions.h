#pragma once

// The command line's one definition: every command, its arguments, the options it takes and the
// function that runs it. The parser, the help texts, the shell completions and the dispatch are
// all made from it; each command's definition sits in its own file under commands/.

#include <functional>
#include <string>
#include <vector>

namespace ventra::ctl {

struct Context;
struct Options;
using Arguments = std::vector<std::string>;
// Runs a command with its positional arguments; the process's exit status.
using Runner = int (*)(Context&, const Arguments&);

// What a shell offers for a value. profile, scenario: a JSON file, or a bundled one by the name
// `ventractl profiles` (`scenarios`) lists.
enum class Completion { none, file, jsonFile, directory, choices, profile, scenario };

struct OptionDefinition {
  std::string key;    // "json"
  std::string names;  // "-j,--json"
  std::string value;  // "FILE"; empty for a flag
  std::string help;
  Completion completion = Completion::none;
  std::vector<std::string> choices;
  // Where the value goes, parsed and checked (a flag gets ""), the option's long name to say in
  // a UsageError where it is wrong.
  using Set = std::function<void(Options&, const std::string& value, const std::string& flag)>;
  Set set;
};

struct ArgumentDefinition {
  std::string name;  // "KEY"
  std::string help;
  bool required = true;
  Completion completion = Completion::none;
  std::vector<std::string> choices;
  bool many = false;  // takes one or more words
};

struct CommandDefinition {
  std::string name;  // "load" under "gpu"
  std::string help;
  std::vector<ArgumentDefinition> arguments;
  std::vector<std::string> options;  // keys of optionDefinitions()
  std::vector<CommandDefinition> subcommands;
  Runner run = nullptr;
  std::string jsonHelp;  // what --json prints for this command
  // Where the command's own exit statuses differ from ventractl's: the end of its --help.
  std::string exitStatuses = {};
};

const std::vector<OptionDefinition>& optionDefinitions();
const OptionDefinition& optionDefinition(const std::string& key);
// The option as `command` takes it: --json with the command's own account of what it prints.
OptionDefinition commandOption(const CommandDefinition& command, const std::string& key);
// Every command, in the order the help lists them: filled by the commands themselves
// (commands/command_table.cpp), which this room never includes.
const std::vector<CommandDefinition>& commandDefinitions();

// Options that pick the SMC; before the command they apply to any command that talks to it.
inline const std::vector<std::string> kSmcOptions = {"profile", "applesmc"};

// The SMC options followed by `more`: the options of a command that talks to the SMC.
std::vector<std::string> smcAnd(std::vector<std::string> more);

// The long name alone: "--json" for "-j,--json".
std::string longName(const OptionDefinition& option);

}  // namespace ventra::ctl
