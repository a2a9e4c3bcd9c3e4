#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "line/options.h"
#include "smc/smc_access.h"
#include "views/key_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// One key, as ever; of several, a key the SMC does not have is said on stderr and the rest are
// still read. Status 1 when any key could not be read.
int runRead(Context& context, const Arguments& args) {
  if (args.empty()) throw UsageError("usage: ventractl read KEY...");
  std::vector<FourCharCode> codes;
  for (const auto& text : args) codes.push_back(keyArgument(text));
  SmcSession session(context.options);
  json rows = json::array();
  bool failed = false;
  for (FourCharCode code : codes) {
    try {
      rows.push_back(describeKey(SMCKey{code, SMCAccess::getKeyInfo(code)}));
      failed = failed || rows.back().contains("error");
    } catch (const SMCAccess::SMCError& error) {
      if (codes.size() == 1) throw;
      context.err << "ventractl: " << fourCharCodeToString(code) << ": " << error.what() << "\n";
      failed = true;
    }
  }
  if (context.options.json)
    printJson(context, codes.size() == 1 ? json{{"key", rows[0]}} : json{{"keys", rows}});
  else
    for (const auto& row : rows) printKeyRow(context.out, row);
  return failed ? 1 : 0;
}

}  // namespace

CommandDefinition readCommand() {
  return {
      "read",
      "one key or several, each with its type, size, bytes and decoded value",
      {{"KEY", "the keys, four characters each", true, Completion::none, {}, true}},
      smcAnd(
          {{option::json,
            R"(print {"key": {key, type, size, bytes, value}}; for several keys {"keys": [...]})"}}),
      {},
      runRead};
}

}  // namespace ventra::ctl
