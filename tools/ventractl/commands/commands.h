#pragma once

// Every command's definition, each with the function that runs it, from the command's own file.

#include "line/command_definitions.h"

namespace ventra::ctl {

CommandDefinition keysCommand();
CommandDefinition readCommand();
CommandDefinition writeCommand();
CommandDefinition sensorsCommand();
CommandDefinition fansCommand();
CommandDefinition tempsCommand();
CommandDefinition batteryCommand();
CommandDefinition msdiCommand();
CommandDefinition setFanMinCommand();
CommandDefinition watchCommand();
CommandDefinition dumpCommand();
CommandDefinition gpuCommand();
CommandDefinition gpuTuneCommand();
CommandDefinition checkCommand();
CommandDefinition resetCommand();
CommandDefinition simulateCommand();
CommandDefinition autostartCommand();
CommandDefinition profilesCommand();
CommandDefinition scenariosCommand();
CommandDefinition completionCommand();

}  // namespace ventra::ctl
