#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "line/options.h"
#include "sensors/fans.h"
#include "smc/smc_access.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

int runSetFanMin(Context& context, const Arguments& args) {
  expectArguments(args, 2, "set-fan-min FAN RPM --yes");
  auto fan = parseInteger(args[0], "FAN", 0, kHighestFanNumber);
  auto rpm = parseInteger(args[1], "RPM", -1000000, 1000000);
  requireConfirmation(context, "set fan " + args[0] + "'s minimum speed");
  SmcSession session(context.options);
  requireFan(fan);
  const std::int64_t maximum = SMCAccess::fanMaxSpeed(fan);
  if (rpm <= 0 || rpm > maximum)
    throw CommandError(std::to_string(rpm) + " rpm is outside fan " + std::to_string(fan) +
                       "'s range for a minimum: 1 to " + std::to_string(maximum) +
                       " rpm (its maximum)");
  SMCAccess::fanSetMinSpeed(fan, rpm);
  std::int64_t readBack = SMCAccess::fanMinSpeed(fan);
  noteEmulatedWrite(context);
  if (context.options.json) {
    printJson(context, {{"fan", fan}, {"requested", rpm}, {"minSpeed", readBack}});
    return 0;
  }
  context.out << "fan " << fan << " minimum speed set to " << rpm << " rpm (reads back " << readBack
              << " rpm)\n";
  return 0;
}

}  // namespace

CommandDefinition setFanMinCommand() {
  return {
      "set-fan-min",
      "set a fan's minimum speed, 1..its maximum (needs --yes)",
      {{"FAN", "the fan's number", true, Completion::none, {}, false},
       {"RPM", "the new minimum", true, Completion::none, {}, false}},
      smcAnd({{option::json,
               R"(print {"fan", "requested", "minSpeed"}, the minimum read back after the write)"},
              option::yes}),
      {},
      runSetFanMin};
}

}  // namespace ventra::ctl
