#pragma once

#include <string>
#include <unordered_map>

#include "smc/four_char_code.h"

namespace ventra {

struct TemperatureSensor {
  std::string name;
  FourCharCode code = 0;

  friend bool operator==(const TemperatureSensor&, const TemperatureSensor&) = default;
};

// The (name, key) pairs of the sensors this layer knows by heart.
// clang-format off
#define VENTRA_TEMPERATURE_SENSORS(X) \
  X(AMBIENT_AIR_0, "TA0P") \
  X(AMBIENT_AIR_1, "TA1P") \
  X(CPU_0_DIE, "TC0F") \
  X(CPU_0_DIODE, "TC0D") \
  X(CPU_0_HEATSINK, "TC0H") \
  X(CPU_0_PROXIMITY, "TC0P") \
  X(ENCLOSURE_BASE_0, "TB0T") \
  X(ENCLOSURE_BASE_1, "TB1T") \
  X(ENCLOSURE_BASE_2, "TB2T") \
  X(ENCLOSURE_BASE_3, "TB3T") \
  X(GPU_0_DIODE, "TG0D") \
  X(GPU_0_HEATSINK, "TG0H") \
  X(GPU_0_PROXIMITY, "TG0P") \
  X(HDD_PROXIMITY, "TH0P") \
  X(HEATSINK_0, "Th0H") \
  X(HEATSINK_1, "Th1H") \
  X(HEATSINK_2, "Th2H") \
  X(LCD_PROXIMITY, "TL0P") \
  X(MEM_SLOT_0, "TM0S") \
  X(MEM_SLOTS_PROXIMITY, "TM0P") \
  X(MISC_PROXIMITY, "Tm0P") \
  X(NORTHBRIDGE, "TN0H") \
  X(NORTHBRIDGE_DIODE, "TN0D") \
  X(NORTHBRIDGE_PROXIMITY, "TN0P") \
  X(ODD_PROXIMITY, "TO0P") \
  X(PALM_REST, "Ts0P") \
  X(PWR_SUPPLY_PROXIMITY, "Tp0P") \
  X(THUNDERBOLT_0, "TI0P") \
  X(THUNDERBOLT_1, "TI1P")
// clang-format on

// The catalogue: one accessor per sensor (each built once, on first use, thread-safely) and
// the table by key code. Accessors hand out copies.
struct TemperatureSensors {
  TemperatureSensors() = delete;
#define VENTRA_DECLARE_SENSOR(name, key) static TemperatureSensor name();
  VENTRA_TEMPERATURE_SENSORS(VENTRA_DECLARE_SENSOR)
#undef VENTRA_DECLARE_SENSOR

  static const std::unordered_map<FourCharCode, TemperatureSensor>& byCode();
};

}  // namespace ventra
