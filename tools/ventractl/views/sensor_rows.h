#pragma once

// Rows of fans, temperatures and the battery as the sensor commands show them, shared by fans,
// temps, battery, watch and sensors: a value the SMC would not give is null, never made up.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "line/cli.h"
#include "sensors/battery.h"
#include "sensors/temperature.h"

namespace ventra::ctl {

nlohmann::ordered_json fanRow(std::int64_t id, bool withLimits);
nlohmann::ordered_json fanNameOf(std::int64_t id);  // null where the SMC gives none
const char* unitSymbol(const std::string& unit);
TemperatureUnit unitOf(const std::string& name);
nlohmann::ordered_json sensorRow(const TemperatureSensor& sensor, TemperatureUnit unit, bool known);
std::vector<TemperatureSensor> sortedKnownSensors();
// The catalogue's sensors and every other temperature the driver labels; with --all also those
// only a listing of every key finds, where the SMC lets us list keys (`complete`).
nlohmann::ordered_json temperatureRows(const Options& options, bool& complete);
nlohmann::ordered_json batteryRow(const batteryInfo& info);
// The battery row's members in words, for text output ("AC power present" for isACPresent).
void printBattery(std::ostream& out, const nlohmann::ordered_json& row, const std::string& indent);
void printFan(std::ostream& out, const nlohmann::ordered_json& row);
void printSensor(std::ostream& out, const nlohmann::ordered_json& row, const std::string& unit);

// The note for a listing that left out the unknown sensors, with the command to run as root.
std::string unknownSensorsNeedRoot();

}  // namespace ventra::ctl
