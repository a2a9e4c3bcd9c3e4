#pragma once

// The parser behind parseCommandLine (cli.h), for the help texts and the shell completions.

#include <memory>
#include <string>

#include "line/command_definitions.h"

namespace CLI {
class App;
}

namespace ventra::ctl {

std::unique_ptr<CLI::App> makeCommandLine(const CommandTable& table);

// The command a line names, within its table: `command` is none on a bare line, `path` its words
// ("gpu load").
struct Named {
  const CommandTable& table;
  const CommandDefinition* command;
  std::string path;
};

// Throws a UsageError explaining the first word the command line did not take, if any.
void reportExtras(CLI::App& top, CLI::App* chosen, const Named& named);

}  // namespace ventra::ctl
