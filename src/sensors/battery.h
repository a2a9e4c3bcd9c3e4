#pragma once

#include <cstdint>

namespace ventra {

struct batteryInfo {
  std::int64_t batteryCount = 0;
  bool isACPresent = false;
  bool isBatteryPowered = false;
  bool isBatteryOk = false;
  bool isCharging = false;

  friend bool operator==(const batteryInfo&, const batteryInfo&) = default;
};

namespace SMCAccess {
// Reads "BNum", "BATP" and "BSIn" in that order; the first failure ends it.
batteryInfo readBatteryInfo();
// True only when "MSDI" holds 1.
bool readMSDIFlag();
// A "flag" key is set when its byte is 1; any other byte reads as not set.
constexpr bool flagIsSet(std::uint8_t byte) {
  return byte == 1;
}
}  // namespace SMCAccess

}  // namespace ventra
