#include <ostream>

#include <iomanip>
#include "commands/commands.h"
#include "commands/session.h"

#include "line/options.h"
#include "sensors/battery.h"
#include "smc/smc_access.h"
#include "views/sensor_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

int runBattery(Context& context, const Arguments& args) {
  expectArguments(args, 0, "battery");
  SmcSession session(context.options);
  batteryInfo info = SMCAccess::readBatteryInfo();
  json battery = batteryRow(info);
  if (context.options.json) {
    printJson(context, {{"battery", battery}});
    return 0;
  }
  printBattery(context.out, battery, "");
  return 0;
}

}  // namespace

CommandDefinition batteryCommand() {
  return {
      "battery",
      "battery count and power flags",
      {},
      smcAnd(
          {{option::json,
            R"(print {"battery": {batteryCount, isACPresent, isBatteryPowered, isBatteryOk, isCharging}})"}}),
      {},
      runBattery};
}

}  // namespace ventra::ctl
