// The table of every command, for the command line, the help, the manual and the completions.
#include "commands/commands.h"

namespace ventra::ctl {

const std::vector<CommandDefinition>& commandDefinitions() {
  static const CommandTable definitions = {
      keysCommand(),      readCommand(),      writeCommand(),      sensorsCommand(),
      fansCommand(),      tempsCommand(),     batteryCommand(),    msdiCommand(),
      setFanMinCommand(), watchCommand(),     dumpCommand(),       gpuCommand(),
      checkCommand(),     resetCommand(),     simulateCommand(),   profilesCommand(),
      scenariosCommand(), autostartCommand(), completionCommand(),
  };
  return definitions;
}

Invocation parseCommandLine(const std::vector<std::string>& arguments) {
  return parseCommandLine(arguments, commandDefinitions());
}

}  // namespace ventra::ctl
