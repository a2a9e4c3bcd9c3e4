#pragma once

// Shell completion scripts, written from the command line's definition (command_definitions.h), so
// that what a shell offers is what the parser takes.

#include <string>

namespace ventra::ctl {

std::string bashCompletion();
std::string zshCompletion();
std::string fishCompletion();

}  // namespace ventra::ctl
