#pragma once

// What the three completion writers share: a walk over the commands, an option's spellings, and
// shell quoting.

#include <functional>
#include <string>
#include <vector>

#include "line/command_definitions.h"

namespace ventra::ctl::completion {

using Visit = std::function<void(const std::string& path, const CommandDefinition& command)>;

// Every command and subcommand, with its path ("gpu load").
void eachCommand(const std::vector<CommandDefinition>& level, const std::string& prefix,
                 const Visit& visit);
// "-j", "--json" for "-j,--json".
std::vector<std::string> names(const OptionDefinition& option);
std::string spaced(const std::vector<std::string>& words);
// The command that lists a kind of bundled file by name: "profiles" for Completion::profile,
// "scenarios" for Completion::scenario.
std::string bundledListCommand(Completion completion);
// Single quotes for the shells, with any quote inside closed and reopened.
std::string quoted(const std::string& text);

}  // namespace ventra::ctl::completion
