#include "sensors/temperature_sensors.h"

namespace ventra {

#define VENTRA_DEFINE_SENSOR(sensor, key)                                         \
  TemperatureSensor TemperatureSensors::sensor() {                                \
    static const TemperatureSensor value{#sensor, *fourCharCodeFromLiteral(key)}; \
    return value;                                                                 \
  }
VENTRA_TEMPERATURE_SENSORS(VENTRA_DEFINE_SENSOR)
#undef VENTRA_DEFINE_SENSOR

const std::unordered_map<FourCharCode, TemperatureSensor>& TemperatureSensors::byCode() {
  static const auto table = [] {
    std::unordered_map<FourCharCode, TemperatureSensor> map;
    map.reserve(29);
#define VENTRA_INSERT_SENSOR(sensor, key) map.emplace(sensor().code, sensor());
    VENTRA_TEMPERATURE_SENSORS(VENTRA_INSERT_SENSOR)
#undef VENTRA_INSERT_SENSOR
    return map;
  }();
  return table;
}

}  // namespace ventra
