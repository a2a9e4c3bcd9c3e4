#include "views/key_rows.h"

#include <iomanip>

#include "kit/context.h"
#include "views/value_format.h"

namespace ventra::ctl {
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

}  // namespace ventra::ctl
