#include "sensors/temperature.h"

#include "smc/smc_access.h"

namespace ventra::SMCAccess {

double celsiusFromSP78(std::uint8_t firstByte) {
  double sign = (firstByte & 0x80) ? -1.0 : 1.0;
  return static_cast<double>(firstByte & 0x7F) * sign;
}

double readTemperature(FourCharCode code, TemperatureUnit unit) {
  return celsiusIn(unit, celsiusFromSP78(readKey({code, DataTypes::SP78})[0]));
}

std::vector<TemperatureSensor> knownTemperatureSensors() {
  std::vector<TemperatureSensor> present;
  for (const auto& [code, sensor] : TemperatureSensors::byCode())
    if (hasKey(code)) present.push_back(sensor);
  return present;
}

std::vector<TemperatureSensor> unknownTemperatureSensors() {
  const auto& catalogue = TemperatureSensors::byCode();
  std::vector<TemperatureSensor> unknown;
  for (const SMCKey& key : listAllKeys()) {
    bool startsWithT = (key.code >> 24) == 'T';
    if (startsWithT && key.info == DataTypes::SP78 && !catalogue.contains(key.code))
      unknown.push_back({"Unknown", key.code});
  }
  return unknown;
}

}  // namespace ventra::SMCAccess
