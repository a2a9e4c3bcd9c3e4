#pragma once

#include <vector>

#include "sensors/temperature_sensors.h"

namespace ventra {

enum class TemperatureUnit { celius, fahrenheit, kelvin };

constexpr double celsiusToFahrenheit(double celsius) {
  return celsius * 1.8 + 32.0;
}
constexpr double celsiusToKelvin(double celsius) {
  return celsius + 273.15;
}

constexpr double celsiusIn(TemperatureUnit unit, double celsius) {
  switch (unit) {
    case TemperatureUnit::fahrenheit:
      return celsiusToFahrenheit(celsius);
    case TemperatureUnit::kelvin:
      return celsiusToKelvin(celsius);
    case TemperatureUnit::celius:
      break;
  }
  return celsius;
}

namespace SMCAccess {
// Whole degrees from byte 0 of the "sp78" value, read as sign and magnitude.
double readTemperature(FourCharCode code, TemperatureUnit unit);
// Whole degrees Celsius from an sp78 value's first byte, read as sign and magnitude: the one
// decoding every reader of a temperature uses.
double celsiusFromSP78(std::uint8_t firstByte);
// Catalogue sensors the SMC has, in the catalogue table's own order.
std::vector<TemperatureSensor> knownTemperatureSensors();
// "T" keys of type "sp78" (size 2) the catalogue lacks, in index order, named "Unknown".
std::vector<TemperatureSensor> unknownTemperatureSensors();
}  // namespace SMCAccess

}  // namespace ventra
