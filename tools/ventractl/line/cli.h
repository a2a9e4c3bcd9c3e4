#pragma once

// The command line as a whole: the words given, parsed against a table of commands into the
// command to run, its arguments and its options.

#include <string>
#include <vector>

#include "line/command_definitions.h"
#include "line/options.h"
#include "line/values.h"

namespace ventra::ctl {

struct Invocation {
  Options options;
  const CommandDefinition* command = nullptr;  // "load" for "gpu load"; none for a bare line
  std::vector<std::string> arguments;          // the command's positional arguments
  std::string helpText;                        // what --help asked for: the command's own help
};

Invocation parseCommandLine(const std::vector<std::string>& arguments, const CommandTable& table);

// Printed by a bare `ventractl`.
std::string shortSummary(const CommandTable& table);

// The exit statuses, for the help text and the manual.
inline constexpr char kExitStatuses[] = R"(Exit status:
  0  success
  1  a failure: the SMC, the GPU, a file or the output could not do what was asked
  2  a usage error: the command line cannot be run as written
  3  check, reset: the host is one the app would not act on
  4  check: the tower the app acts on, and fan 0 turns normally (nothing to reset)
  130  watch, reset: interrupted (Ctrl-C)
  143  reset: terminated (SIGTERM)

ventractl COMMAND --help shows a command's own options.)";

}  // namespace ventra::ctl
