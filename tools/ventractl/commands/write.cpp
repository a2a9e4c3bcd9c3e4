#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "line/options.h"
#include "sensors/fans.h"
#include "smc/hex_bytes.h"
#include "smc/smc_access.h"
#include "views/key_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// A raw write of a fan's minimum or target meets the same bound as set-fan-min: 1 to the fan's
// maximum, unless --force.
void checkFanSpeedWrite(const Context& context, FourCharCode code, const DataType& info,
                        const SMCDataBytes& data) {
  std::string key = fourCharCodeToString(code);
  bool fanSpeed = key.size() == 4 && key[0] == 'F' && key[1] >= '0' && key[1] <= '9' &&
                  (key.substr(2) == "Mn" || key.substr(2) == "Tg");
  if (!fanSpeed || info.size != 2 || context.options.force) return;
  std::int64_t rpm = intFromFPE2({data[0], data[1]});
  std::int64_t maximum = SMCAccess::fanMaxSpeed(key[1] - '0');
  if (rpm <= 0 || rpm > maximum)
    throw CommandError(key + " = " + std::to_string(rpm) + " rpm is outside 1 to " +
                       std::to_string(maximum) +
                       " rpm, the fan's maximum (--force writes it anyway)");
}

int runWrite(Context& context, const Arguments& args) {
  expectArguments(args, 2, "write KEY HEX");
  FourCharCode code = keyArgument(args[0]);
  auto bytes = bytesFromHex(args[1]);
  if (!bytes) throw UsageError("HEX must be hex digits in pairs, not \"" + args[1] + "\"");
  requireConfirmation(context, "write " + args[0]);
  SmcSession session(context.options);
  DataType info = SMCAccess::getKeyInfo(code);
  if (bytes->size() != info.size)
    throw CommandError(args[0] + " holds " + std::to_string(info.size) + " bytes; " +
                       std::to_string(bytes->size()) + " given");
  SMCDataBytes data{};
  std::copy(bytes->begin(), bytes->end(), data.begin());
  checkFanSpeedWrite(context, code, info, data);
  SMCAccess::writeKey({code, info}, data);
  noteEmulatedWrite(context);
  json row = describeKey({code, info});
  if (context.options.json)
    printJson(context, {{"key", row}});
  else
    printKeyRow(context.out, row);
  return 0;
}

}  // namespace

CommandDefinition writeCommand() {
  return {
      "write",
      "raw write of HEX to KEY (needs --yes)",
      {{"KEY", "the key", true, Completion::none, {}, false},
       {"HEX", "the bytes, in hex", true, Completion::none, {}, false}},
      smcAnd(
          {{option::json,
            R"(print {"key": {key, type, size, bytes, value}}, the key read back after the write)"},
           option::yes,
           {option::force, "a fan minimum or target outside 1..the fan's maximum"}}),
      {},
      runWrite};
}

}  // namespace ventra::ctl
