#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "commit.h"
#include "host/host.h"
#include "host/sudo_line.h"
#include "line/command_definitions.h"
#include "smc/platform/emulator/profile.h"
#include "smc/smc_error.h"
#include "smc/utf8.h"

namespace ventra::ctl {
namespace {

// What needed root, by command: on Linux an ordinary user reaches only the fan and temperature
// keys (through the driver's hwmon files); other reads, key listings and writes need root.
std::string privilegeHint(const std::string& command) {
  const std::string again = ": run it again as root: " + sudoLineForThisProcess() + ")";
  if (command == "write" || command == "set-fan-min")
    return " (writing to the SMC needs root" + again;
  if (command == "keys" || command == "temps") return " (listing the SMC's keys needs root" + again;
  return " (reading this key needs root; without it only fan and temperature keys can be read" +
         again;
}

std::string hintFor(const SMCAccess::SMCError& error, const std::string& command, bool emulated) {
  switch (error.kind()) {
    case SMCAccess::SMCError::Kind::notPrivileged:
      // No sudo lets an emulated SMC do what its profile forbids.
      if (emulated) return " (the profile's SMC refuses it: its \"notPrivileged\" setting)";
      return privilegeHint(command);
    case SMCAccess::SMCError::Kind::failedToOpen:
      return " (the driver did not answer its first read)";
    default:
      return "";
  }
}

int run(const Invocation& invocation) {
  Context context{invocation.options, std::cout, std::cerr, isatty(STDOUT_FILENO) == 1};
  if (invocation.options.help) {
    std::cout << invocation.helpText;
    return 0;
  }
  if (invocation.options.version) {
    std::cout << "ventractl " VENTRA_VERSION " (commit " VENTRA_COMMIT ")\n"
              << "backends: " << ventra::ctl::builtBackends() << "\n";
    return 0;
  }
  if (!invocation.command) {
    std::cout << shortSummary(commandDefinitions());
    return 0;
  }
  return invocation.command->run(context, invocation.arguments);
}

}  // namespace
}  // namespace ventra::ctl

// Data that could not be written (a full disk, a closed pipe) is a failure, not a success.
int withOutputChecked(int status) {
  std::cout.flush();
  if (std::cout) return status;
  std::cerr << "ventractl: cannot write the output: " << std::strerror(errno) << "\n";
  return 1;
}

// An error's text on the terminal: what came from outside (a profile's member name, a driver's
// words) can hold control characters, which are shown escaped, never sent.
std::string shown(const char* text) {
  return ventra::utf8::escapeControls(text);
}

// The command named on the line, for hints ("gpu load"); found even on a line that does not
// parse.
std::string commandNamed(const std::vector<std::string>& arguments) {
  std::string path;
  const auto* level = &ventra::ctl::commandDefinitions();
  for (const auto& word : arguments) {
    for (const auto& definition : *level) {
      if (word != definition.name) continue;
      path += (path.empty() ? "" : " ") + word;
      level = &definition.subcommands;
      break;
    }
  }
  return path;
}

int main(int argc, char** argv) {
  using namespace ventra;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const std::string command = commandNamed(arguments);
  bool emulated = false;  // the SMC is a profile's
  try {
    auto invocation = ctl::parseCommandLine(arguments);
    emulated = invocation.options.profile.has_value();
    return withOutputChecked(ctl::run(invocation));
  } catch (const ctl::UsageError& error) {
    std::cerr << "ventractl: " << shown(error.what()) << "\n"
              << "Try 'ventractl " << (command.empty() ? "" : command + " ") << "--help'.\n";
    return 2;
  } catch (const SMCAccess::SMCError& error) {
    std::cerr << "ventractl: " << shown(error.what()) << ctl::hintFor(error, command, emulated)
              << "\n";
    return 1;
  } catch (const smc::emulator::ProfileError& error) {
    std::cerr << "ventractl: bad profile: " << shown(error.what()) << "\n";
    return 1;
  } catch (const std::exception& error) {
    std::cerr << "ventractl: " << shown(error.what()) << "\n";
    return 1;
  }
}
