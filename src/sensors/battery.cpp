#include "sensors/battery.h"

#include "smc/smc_access.h"

namespace ventra::SMCAccess {
namespace {
using literals::operator""_fcc;

std::uint8_t firstByte(FourCharCode code, DataType info) {
  return readKey({code, info})[0];
}

constexpr std::uint8_t kCharging = 0x01;
constexpr std::uint8_t kACPresent = 0x02;
constexpr std::uint8_t kBatteryOk = 0x40;

}  // namespace

batteryInfo readBatteryInfo() {
  batteryInfo info;
  info.batteryCount = firstByte("BNum"_fcc, DataTypes::UI8);
  info.isBatteryPowered = flagIsSet(firstByte("BATP"_fcc, DataTypes::FLAG));
  std::uint8_t status = firstByte("BSIn"_fcc, DataTypes::UI8);
  info.isCharging = (status & kCharging) != 0;
  info.isACPresent = (status & kACPresent) != 0;
  info.isBatteryOk = (status & kBatteryOk) != 0;
  return info;
}

bool readMSDIFlag() {
  return flagIsSet(firstByte("MSDI"_fcc, DataTypes::FLAG));
}

}  // namespace ventra::SMCAccess
