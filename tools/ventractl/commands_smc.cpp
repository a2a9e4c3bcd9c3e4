#include <iomanip>
#include <ostream>

#include "context.h"
#include "smc/platform/emulator/profile.h"
#include "smc/smckit.h"
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
    SMCDataBytes bytes = SMCKit::readKey(key);
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
  out << std::left << std::setw(6) << row["key"].get<std::string>() << std::setw(6)
      << row["type"].get<std::string>() << std::right << std::setw(3) << row["size"].get<int>()
      << "  ";
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
  for (const SMCKey& key : SMCKit::listAllKeys()) rows.push_back(describeKey(key));
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
  json row = describeKey(SMCKey{code, SMCKit::getKeyInfo(code)});
  if (context.options.json)
    printJson(context, {{"key", row}});
  else
    printKeyRow(context.out, row);
  return row.contains("error") ? 1 : 0;
}

int runWrite(Context& context, const Arguments& args) {
  expectArguments(args, 2, "write KEY HEX");
  FourCharCode code = keyArgument(args[0]);
  auto bytes = smc::emulator::bytesFromHex(args[1]);
  if (!bytes) throw UsageError("HEX must be hex digits in pairs, not \"" + args[1] + "\"");
  requireConfirmation(context, "write " + args[0]);
  SmcSession session(context.options);
  DataType info = SMCKit::getKeyInfo(code);
  if (bytes->size() != info.size)
    throw CommandError(args[0] + " holds " + std::to_string(info.size) + " bytes; " +
                       std::to_string(bytes->size()) + " given");
  SMCDataBytes data{};
  std::copy(bytes->begin(), bytes->end(), data.begin());
  SMCKit::writeKey({code, info}, data);
  json row = describeKey({code, info});
  if (context.options.json)
    printJson(context, {{"key", row}});
  else
    printKeyRow(context.out, row);
  return 0;
}

}  // namespace ventra::ctl
