#include <ostream>

#include "commands/commands.h"
#include "commands/context.h"
#include "sensors/fans.h"
#include "smc/smc_access.h"
#include "views/sensor_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

int runFans(Context& context, const Arguments& args) {
  expectArguments(args, 0, "fans");
  SmcSession session(context.options);
  json rows = json::array();
  for (std::int64_t id = 0, count = SMCAccess::fanCount(); id < count; ++id)
    rows.push_back(fanRow(id, true));
  if (context.options.json) {
    printJson(context, {{"fans", rows}});
    return 0;
  }
  for (const auto& row : rows) printFan(context.out, row);
  return 0;
}

}  // namespace

CommandDefinition fansCommand() {
  return {"fans", "every fan: id, name, min, max and current speed (rpm)", {}, smcAnd({"json"}), {},
          runFans};
}

}  // namespace ventra::ctl
