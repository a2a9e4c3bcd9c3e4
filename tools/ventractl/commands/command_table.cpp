// The table of every command, for the command line, the help, the manual and the completions
// (line/command_definitions.h declares it; this room, which knows the commands, fills it).
#include "commands/commands.h"

namespace ventra::ctl {

const std::vector<CommandDefinition>& commandDefinitions() {
  static const std::vector<CommandDefinition> definitions = {
      keysCommand(),      readCommand(),      writeCommand(),      sensorsCommand(),
      fansCommand(),      tempsCommand(),     batteryCommand(),    msdiCommand(),
      setFanMinCommand(), watchCommand(),     dumpCommand(),       gpuCommand(),
      checkCommand(),     resetCommand(),     simulateCommand(),   profilesCommand(),
      scenariosCommand(), autostartCommand(), completionCommand(),
  };
  return definitions;
}

}  // namespace ventra::ctl
