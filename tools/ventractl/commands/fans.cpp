#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "line/options.h"
#include "sensors/fans.h"
#include "smc/smc_access.h"
#include "views/sensor_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// Every fan, or the one FAN names.
int runFans(Context& context, const Arguments& args) {
  if (args.size() > 1) throw UsageError("usage: ventractl fans [FAN]");
  const bool one = !args.empty();
  const std::int64_t only = one ? parseInteger(args[0], "FAN", 0, kHighestFanNumber) : 0;
  SmcSession session(context.options);
  json rows = json::array();
  if (one) requireFan(only);
  for (std::int64_t id = 0, count = SMCAccess::fanCount(); id < count; ++id)
    if (!one || id == only) rows.push_back(fanRow(id, true));
  if (context.options.json) {
    printJson(context, {{"fans", rows}});
    return 0;
  }
  for (const auto& row : rows) printFan(context.out, row);
  return 0;
}

}  // namespace

CommandDefinition fansCommand() {
  return {
      "fans",
      "every fan, or fan FAN: id, name, min, max and current speed (rpm)",
      {{"FAN", "only this fan", false, Completion::none, {}, false}},
      smcAnd({{option::json, R"(print {"fans": [{id, name, minSpeed, maxSpeed, currentSpeed}]})"}}),
      {},
      runFans};
}

}  // namespace ventra::ctl
