#pragma once

// Shell completion scripts, written from the command line's definition (command_definitions.h), so
// that what a shell offers is what the parser takes.

#include <string>

#include "line/command_definitions.h"

namespace ventra::ctl {

std::string bashCompletion(const CommandTable& table);
std::string zshCompletion(const CommandTable& table);
std::string fishCompletion(const CommandTable& table);

}  // namespace ventra::ctl
