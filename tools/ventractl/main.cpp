#include <iostream>
#include <map>

#include "context.h"
#include "smc/platform/emulator/profile.h"
#include "smc/smc_error.h"

namespace ventra::ctl {
namespace {

using Runner = int (*)(Context&, const Arguments&);

const std::map<std::string, Runner>& commands() {
  static const std::map<std::string, Runner> table{
      {"keys", runKeys},
      {"read", runRead},
      {"write", runWrite},
      {"fans", runFans},
      {"temps", runTemps},
      {"battery", runBattery},
      {"msdi", runMsdi},
      {"gpu", runGpu},
      {"simulate", runSimulate},
      {"check", runCheck},
      {"set-fan-min", runSetFanMin},
      {"watch", runWatch},
  };
  return table;
}

std::string hintFor(const SMCKit::SMCError& error) {
  switch (error.kind()) {
    case SMCKit::SMCError::Kind::notPrivileged:
      return " (writes to the SMC need root: run it again with sudo)";
    case SMCKit::SMCError::Kind::failedToOpen:
      return " (is another program holding it, or are you missing permissions?)";
    default:
      return "";
  }
}

int run(const std::vector<std::string>& arguments) {
  Invocation invocation = parseCommandLine(arguments);
  Context context{invocation.options, std::cout, std::cerr};
  if (invocation.options.help) return std::cout << kUsage, 0;
  if (invocation.options.version) return std::cout << "ventractl " VENTRA_VERSION "\n", 0;
  if (invocation.words.empty()) throw UsageError("no command given");
  auto command = commands().find(invocation.words.front());
  if (command == commands().end())
    throw UsageError("unknown command \"" + invocation.words.front() + "\"");
  Arguments args(invocation.words.begin() + 1, invocation.words.end());
  return command->second(context, args);
}

}  // namespace
}  // namespace ventra::ctl

int main(int argc, char** argv) {
  using namespace ventra;
  try {
    return ctl::run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const ctl::UsageError& error) {
    std::cerr << "ventractl: " << error.what() << "\nTry 'ventractl --help'.\n";
    return 2;
  } catch (const SMCKit::SMCError& error) {
    std::cerr << "ventractl: " << error.what() << ctl::hintFor(error) << "\n";
    return 1;
  } catch (const smc::emulator::ProfileError& error) {
    std::cerr << "ventractl: bad profile: " << error.what() << "\n";
    return 1;
  } catch (const std::exception& error) {
    std::cerr << "ventractl: " << error.what() << "\n";
    return 1;
  }
}
