#pragma once

// What the three completion writers share: word lists and shell quoting.

#include <string>
#include <vector>

#include "line/command_definitions.h"

namespace ventra::ctl::completion {

std::string spaced(const std::vector<std::string>& words);
// The command that lists a kind of bundled file by name: "profiles" for Completion::profile,
// "scenarios" for Completion::scenario.
std::string bundledListCommand(Completion completion);
// Single quotes for the shells, with any quote inside closed and reopened.
std::string quoted(const std::string& text);

}  // namespace ventra::ctl::completion
