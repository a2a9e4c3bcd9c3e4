#pragma once

// The command line's one definition: every command, its arguments, the options it takes and the
// function that runs it. The parser, the help texts, the shell completions and the dispatch are
// all made from a table of these; each command's definition sits in its own file under
// commands/, and each option's in options.h.

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
  std::string names = {};  // "-j,--json"
  std::string value = {};  // "FILE"; empty for a flag
  std::string help = {};
  Completion completion = Completion::none;
  std::vector<std::string> choices = {};
  // Where the value goes, parsed and checked (a flag gets ""), the option's long name to say in
  // a UsageError where it is wrong.
  using Set =
      std::function<void(Options&, const std::string& value, const std::string& optionName)>;
  Set set = {};
};

// An option as one command takes it: --json with the command's own account of what it prints.
class OptionUse {
 public:
  OptionUse(const OptionDefinition& option, std::string ownHelp = {})  // NOLINT: implicit
      : option_(&option), ownHelp_(std::move(ownHelp)) {}
  const OptionDefinition& option() const { return *option_; }
  const std::string& help() const { return ownHelp_.empty() ? option_->help : ownHelp_; }
  bool is(const OptionDefinition& option) const { return option_ == &option; }

 private:
  const OptionDefinition* option_;
  std::string ownHelp_;
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
  std::vector<OptionUse> options;
  std::vector<CommandDefinition> subcommands;
  Runner run = nullptr;
  // Where the command's own exit statuses differ from ventractl's: the end of its --help.
  std::string exitStatuses = {};
};

// Every command, in the order the help lists them.
using CommandTable = std::vector<CommandDefinition>;

// Every spelling: "-j", "--json" for "-j,--json"; and the long one alone.
std::vector<std::string> spellings(const OptionDefinition& option);
std::string longName(const OptionDefinition& option);

// Every command and subcommand in the table, with its path ("gpu load").
using CommandVisit = std::function<void(const std::string& path, const CommandDefinition&)>;
void eachCommand(const CommandTable& table, const CommandVisit& visit);

// Every option that the table's commands, or the line before them, take; each once.
std::vector<const OptionDefinition*> everyOption(const CommandTable& table);

}  // namespace ventra::ctl
