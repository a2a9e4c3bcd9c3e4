#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "line/options.h"
#include "sensors/battery.h"
#include "smc/smc_access.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

int runMsdi(Context& context, const Arguments& args) {
  expectArguments(args, 0, "msdi");
  SmcSession session(context.options);
  bool flag = SMCAccess::readMSDIFlag();
  if (context.options.json) {
    printJson(context, {{"msdi", flag}});
    return 0;
  }
  context.out << "MSDI " << (flag ? "true" : "false") << "\n";
  return 0;
}

}  // namespace

CommandDefinition msdiCommand() {
  return {"msdi", "the SMC's MSDI flag: on a Mac Pro, whether its optical drive holds a disc",
          {},     smcAnd({{option::json, R"(print {"msdi": true or false})"}}),
          {},     runMsdi};
}

}  // namespace ventra::ctl
