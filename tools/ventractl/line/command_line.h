#pragma once

// The parser behind parseCommandLine (cli.h), for the help texts and the shell completions.

#include <memory>
#include <string>

#include "line/command_definitions.h"

namespace CLI {
class App;
}

namespace ventra::ctl {

std::unique_ptr<CLI::App> makeCommandLine();

// Throws a UsageError explaining the first word the command line did not take, if any.
void reportExtras(CLI::App& top, CLI::App* chosen, const CommandDefinition* command,
                  const std::string& path);

}  // namespace ventra::ctl
