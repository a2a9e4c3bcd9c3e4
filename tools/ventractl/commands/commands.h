#pragma once

// Every command's definition, each with the function that runs it, from the command's own file.

#include "line/cli.h"
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
// Runs gpu tune: the tuner where the build has the Vulkan stack, else a refusal that says why.
int runGpuTune(Context& context, const Arguments& args);
CommandDefinition checkCommand();
CommandDefinition resetCommand();
CommandDefinition simulateCommand();
CommandDefinition autostartCommand();
CommandDefinition profilesCommand();
CommandDefinition scenariosCommand();
CommandDefinition completionCommand();

// Every command, in the order the help lists them (command_table.cpp).
const CommandTable& commandDefinitions();
// The words parsed against every command: what ventractl runs.
Invocation parseCommandLine(const std::vector<std::string>& arguments);

}  // namespace ventra::ctl
