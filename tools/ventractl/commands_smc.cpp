#include <iomanip>
#include <ostream>

#include "context.h"
#include "sensors/fans.h"
#include "smc/platform/emulator/profile.h"
#include "smc/smc_access.h"
#include "value_format.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// One key's row; a key that cannot be read is shown as unreadable with the reason.
json describeKey(const SMCKey& key) {
  json row{{"key", fourCharCodeToString(key.code)},
           {"type", fourCharCodeToString(key.info.type)},
           {"size", key.info.size}};
  try {
    if (key.info.size > 32) throw CommandError("value larger than 32 bytes");
    SMCDataBytes bytes = SMCAccess::readKey(key);
    row["bytes"] = hexOf(bytes, key.info.size);
    row["value"] = decodeValue(key.info, bytes);
  } catch (const std::exception& error) {
    row["bytes"] = nullptr;
    row["value"] = nullptr;
    row["error"] = error.what();
  }
  return row;
}

void printKeyRow(std::ostream& out, const json& row) {
  out << std::left << std::setw(6) << shown(row["key"]) << std::setw(6) << shown(row["type"])
      << std::right << std::setw(3) << row["size"].get<int>() << "  ";
  if (row.contains("error"))
    out << "unreadable: " << row["error"].get<std::string>() << "\n";
  else
    out << std::left << std::setw(34) << row["bytes"].get<std::string>() << valueText(row["value"])
        << "\n";
}

}  // namespace

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

namespace {

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

}  // namespace

int runWrite(Context& context, const Arguments& args) {
  expectArguments(args, 2, "write KEY HEX");
  FourCharCode code = keyArgument(args[0]);
  auto bytes = smc::emulator::bytesFromHex(args[1]);
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
  json row = describeKey({code, info});
  if (context.options.json)
    printJson(context, {{"key", row}});
  else
    printKeyRow(context.out, row);
  return 0;
}

}  // namespace ventra::ctl
