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

namespace SMCKit {
// Reads "BNum", "BATP" and "BSIn" in that order; the first failure ends it.
batteryInfo readBatteryInfo();
// True only when "MSDI" holds 1.
bool readMSDIFlag();
}  // namespace SMCKit

}  // namespace ventra
