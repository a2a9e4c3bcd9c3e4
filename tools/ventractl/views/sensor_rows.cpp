#include "views/sensor_rows.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <ostream>
#include <set>

#include "host/host.h"
#include "host/sudo_line.h"
#include "sensors/battery.h"
#include "sensors/fans.h"
#include "sensors/temperature.h"
#include "smc/smc_access.h"
#include "views/machine_names.h"
#include "views/value_format.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// A value the SMC would not give: null in the output, never a made-up number.
template <typename F>
json orNull(F&& read) {
  try {
    return read();
  } catch (const SMCAccess::SMCError&) {
    return nullptr;
  }
}

// Names are padded with spaces or zero bytes; the layer keeps the zero bytes, people don't want
// them.
std::string displayName(std::string name) {
  while (!name.empty() && name.back() == '\0') name.pop_back();
  return name;
}

}  // namespace

json fanNameOf(std::int64_t id) {
  return orNull([&] { return displayName(SMCAccess::fanName(id)); });
}

json fanRow(std::int64_t id, bool withLimits) {
  json row{{"id", id}};
  if (withLimits) {
    row["name"] = fanNameOf(id);
    row["minSpeed"] = orNull([&] { return SMCAccess::fanMinSpeed(id); });
    row["maxSpeed"] = orNull([&] { return SMCAccess::fanMaxSpeed(id); });
  }
  row["currentSpeed"] = orNull([&] { return SMCAccess::fanCurrentSpeed(id); });
  return row;
}

TemperatureUnit unitOf(const std::string& name) {
  if (name == "fahrenheit") return TemperatureUnit::fahrenheit;
  if (name == "kelvin") return TemperatureUnit::kelvin;
  return TemperatureUnit::celius;
}

namespace {

// Readings that sensors give when absent or broken: 0x80 (the "128" of some cards, which reads
// as -0), 0x7F and 0xFF (+/-127).
bool isJunkReading(double celsius) {
  return (celsius == 0.0 && std::signbit(celsius)) || std::fabs(celsius) == 127.0;
}

}  // namespace

json sensorRow(const TemperatureSensor& sensor, TemperatureUnit unit, bool known) {
  const std::string key = fourCharCodeToString(sensor.code);
  json row{{"name", sensor.name}, {"key", key}, {"known", known}};
  if (!known)
    if (auto name = macProSensorName(key)) row["machineName"] = *name;
  try {
    double celsius = SMCAccess::readTemperature(sensor.code, TemperatureUnit::celius);
    row["value"] = celsiusIn(unit, celsius);
    row["junk"] = isJunkReading(celsius);
  } catch (const SMCAccess::SMCError& error) {
    row["value"] = nullptr;
    row["junk"] = false;
    row["error"] = error.what();
  }
  return row;
}

std::vector<TemperatureSensor> sortedKnownSensors() {
  auto sensors = SMCAccess::knownTemperatureSensors();
  std::sort(sensors.begin(), sensors.end(),
            [](const auto& a, const auto& b) { return a.code < b.code; });
  return sensors;
}

const char* unitSymbol(const std::string& unit) {
  return unit == "fahrenheit" ? "°F" : unit == "kelvin" ? "K" : "°C";
}

void printFan(std::ostream& out, const json& row) {
  auto text = [](const json& v) { return v.is_null() ? std::string("?") : v.dump(); };
  out << std::setw(2) << row["id"].get<int>() << "  " << std::left << std::setw(10)
      << (row.value("name", json()).is_string() ? shown(row["name"]) : "?") << std::right << " min "
      << std::setw(5) << text(row.value("minSpeed", json())) << "  max " << std::setw(5)
      << text(row.value("maxSpeed", json())) << "  now " << std::setw(5)
      << text(row["currentSpeed"]) << " rpm\n";
}

void printSensor(std::ostream& out, const json& row, const std::string& unit) {
  const std::string name = row.contains("machineName") ? shown(row["machineName"])
                           : row["known"].get<bool>()  ? shown(row["name"])
                                                       : "(no name known)";
  out << std::left << std::setw(24) << name << std::setw(6) << shown(row["key"]) << std::right;
  if (row["value"].is_null())
    out << "unreadable: " << row["error"].get<std::string>();
  else
    out << std::setw(8) << std::fixed << std::setprecision(2) << row["value"].get<double>() << " "
        << unitSymbol(unit)
        << (row["junk"].get<bool>() ? "  (no sensor there: an absent one reads this)" : "");
  out << "\n";
}

// Every temperature readable without root: the catalogue's sensors, then the other keys the
// driver labels for every user. --all adds what only a listing of every key finds, which only
// root may do on Linux; without it `complete` says the list may not be whole.
json temperatureRows(const Options& options, bool& complete) {
  TemperatureUnit unit = unitOf(options.unit);
  json rows = json::array();
  std::set<FourCharCode> listed;
  for (const auto& sensor : sortedKnownSensors()) {
    rows.push_back(sensorRow(sensor, unit, true));
    listed.insert(sensor.code);
  }
  for (FourCharCode code : driverTemperatureKeys(options))
    if (listed.insert(code).second) rows.push_back(sensorRow({"Unknown", code}, unit, false));
  complete = true;
  // An emulated SMC has no driver's labels: what it lists to this user is what it gives.
  if (!options.all && !options.profile) return rows;
  try {
    for (const auto& sensor : SMCAccess::unknownTemperatureSensors())
      if (listed.insert(sensor.code).second) rows.push_back(sensorRow(sensor, unit, false));
  } catch (const SMCAccess::SMCError& error) {
    if (error.kind() != SMCAccess::SMCError::Kind::notPrivileged) throw;
    complete = !options.all;
  }
  return rows;
}

std::string unknownSensorsNeedRoot() {
  return "ventractl: every temperature the driver gives is listed; --all would also list every "
         "SMC key for temperatures the driver does not show, which needs root (run it again as "
         "root: " +
         sudoLineForThisProcess() + ")\n";
}

void printBattery(std::ostream& out, const json& row, const std::string& indent) {
  static const std::pair<const char*, const char*> kWords[] = {
      {"batteryCount", "batteries"},
      {"isACPresent", "AC power present"},
      {"isBatteryPowered", "on battery power"},
      {"isBatteryOk", "battery OK"},
      {"isCharging", "charging"}};
  for (const auto& [member, words] : kWords) {
    const json& value = row.at(member);
    out << indent << std::left << std::setw(18) << words
        << (value.is_boolean() ? (value.get<bool>() ? "yes" : "no") : value.dump()) << "\n";
  }
}

json batteryRow(const batteryInfo& info) {
  return {{"batteryCount", info.batteryCount},
          {"isACPresent", info.isACPresent},
          {"isBatteryPowered", info.isBatteryPowered},
          {"isBatteryOk", info.isBatteryOk},
          {"isCharging", info.isCharging}};
}

}  // namespace ventra::ctl
