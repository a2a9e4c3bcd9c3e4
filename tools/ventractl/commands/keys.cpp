#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "line/options.h"
#include "smc/smc_access.h"
#include "views/key_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

int runKeys(Context& context, const Arguments& args) {
  expectArguments(args, 0, "keys");
  SmcSession session(context.options);
  json rows = json::array();
  for (const SMCKey& key : SMCAccess::listAllKeys()) rows.push_back(describeKey(key));
  if (context.options.json) {
    printJson(context, {{"keys", rows}});
  } else {
    for (const auto& row : rows) printKeyRow(context.out, row);
  }
  return 0;
}

}  // namespace

CommandDefinition keysCommand() {
  return {
      "keys",
      "every key with its type, size, bytes and decoded value",
      {},
      smcAnd(
          {{option::json,
            R"(print {"keys": [{key, type, size, bytes, value}]}, a key that cannot be read with "error")"}}),
      {},
      runKeys};
}

}  // namespace ventra::ctl
