#pragma once

// What a user sees of the fans and temperatures, read through the SMC core from whatever
// "AppleSMC" is registered: one line per value, so two backends can be compared as text.

#include <sstream>
#include <string>

#include "sensors/fans.h"
#include "sensors/temperature.h"
#include "sensors/temperature_sensors.h"
#include "smc/smc_access.h"

namespace ventra::testing {

// The temperature catalogue as the composition hands it to the applesmc backend.
inline bool catalogueKey(FourCharCode code) {
  return TemperatureSensors::byCode().contains(code);
}

inline std::string fanAndTemperatureView() {
  std::ostringstream view;
  SMCAccess::openConnection();
  for (const Fan& fan : SMCAccess::allFans()) {
    view << "fan " << fan.id << " '" << fan.name << "' " << SMCAccess::fanCurrentSpeed(fan.id)
         << " rpm, min " << fan.minSpeed << ", max " << fan.maxSpeed << "\n";
  }
  for (const TemperatureSensor& sensor : SMCAccess::knownTemperatureSensors()) {
    view << sensor.name << " " << fourCharCodeToString(sensor.code) << " "
         << SMCAccess::readTemperature(sensor.code, TemperatureUnit::celius) << "\n";
  }
  SMCAccess::closeConnection();
  return view.str();
}

}  // namespace ventra::testing
