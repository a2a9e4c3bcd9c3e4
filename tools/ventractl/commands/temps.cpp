#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "line/options.h"
#include "views/sensor_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

int runTemps(Context& context, const Arguments& args) {
  expectArguments(args, 0, "temps [--all] [--unit U]");
  SmcSession session(context.options);
  bool complete = true;
  json rows = temperatureRows(context.options, complete);
  if (!complete) context.err << unknownSensorsNeedRoot();
  if (context.options.json) {
    json document{{"unit", context.options.unit}, {"sensors", rows}};
    if (context.options.all) document["complete"] = complete;
    printJson(context, document);
    return 0;
  }
  for (const auto& row : rows) printSensor(context.out, row, context.options.unit);
  return 0;
}

}  // namespace

CommandDefinition tempsCommand() {
  return {
      "temps",
      "every temperature the SMC driver gives, named where known; --all lists every key (root)",
      {},
      smcAnd(
          {{option::json,
            R"(print {unit, sensors: [{name, key, known, value, junk}]}, with --all also "complete")"},
           option::unit,
           option::all}),
      {},
      runTemps};
}

}  // namespace ventra::ctl
