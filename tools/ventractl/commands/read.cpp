#include <ostream>

#include "commands/commands.h"
#include "commands/context.h"
#include "smc/smc_access.h"
#include "views/key_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

int runRead(Context& context, const Arguments& args) {
  expectArguments(args, 1, "read KEY");
  FourCharCode code = keyArgument(args[0]);
  SmcSession session(context.options);
  json row = describeKey(SMCKey{code, SMCAccess::getKeyInfo(code)});
  if (context.options.json)
    printJson(context, {{"key", row}});
  else
    printKeyRow(context.out, row);
  return row.contains("error") ? 1 : 0;
}

}  // namespace

CommandDefinition readCommand() {
  return {"read",
          "one key",
          {{"KEY", "the key, four characters", true, Completion::none, {}}},
          smcAnd({"json"}),
          {},
          runRead};
}

}  // namespace ventra::ctl
