#include "sensors/temperature.h"

#include <cmath>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "support/emulated_smc.h"

namespace ventra {
namespace {
using literals::operator""_fcc;
using testing::EmulatedSMC;

TEST(TemperatureCatalogue, HasTwentyNineDistinctCaseSensitiveEntries) {
  const auto& table = TemperatureSensors::byCode();
  EXPECT_EQ(table.size(), 29u);
  std::set<std::string> names;
  for (const auto& [code, sensor] : table) {
    EXPECT_EQ(code, sensor.code);
    EXPECT_EQ(code >> 24, 'T');
    names.insert(sensor.name);
  }
  EXPECT_EQ(names.size(), 29u);
  EXPECT_EQ(table.at("TC0P"_fcc).name, "CPU_0_PROXIMITY");
  EXPECT_FALSE(table.contains("Tc0P"_fcc));
  EXPECT_EQ(table.at("TM0P"_fcc).name, "MEM_SLOTS_PROXIMITY");
  EXPECT_EQ(table.at("Tm0P"_fcc).name, "MISC_PROXIMITY");
  EXPECT_EQ(TemperatureSensors::NORTHBRIDGE_PROXIMITY(),
            (TemperatureSensor{"NORTHBRIDGE_PROXIMITY", "TN0P"_fcc}));
}

TEST(TemperatureCatalogue, FirstUseFromManyThreadsSeesOneTable) {
  std::vector<const void*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = &TemperatureSensors::byCode(); });
  for (auto& t : threads) t.join();
  for (const void* table : seen) EXPECT_EQ(table, seen[0]);
}

struct ReadingCase {
  const char* bytes;
  double celsius, fahrenheit, kelvin;
};

TEST(Temperature, ReadsByteZeroAsSignAndMagnitude) {
  const ReadingCase cases[] = {
      {"2D00", 45.0, 113.0, 318.15}, {"2D80", 45.0, 113.0, 318.15},  // fraction byte ignored
      {"8500", -5.0, 23.0, 268.15},  {"FF00", -127.0, -196.6, 146.15}, {"8000", -0.0, 32.0, 273.15},
  };
  for (const auto& c : cases) {
    EmulatedSMC smc(std::string(R"({"keys": [{"key": "TC0P", "type": "sp78", "bytes": ")") +
                    c.bytes + "\"}]}");
    double celsius = SMCAccess::readTemperature("TC0P"_fcc, TemperatureUnit::celius);
    EXPECT_EQ(celsius, c.celsius) << c.bytes;
    EXPECT_EQ(std::signbit(celsius), std::signbit(c.celsius)) << c.bytes;
    EXPECT_DOUBLE_EQ(SMCAccess::readTemperature("TC0P"_fcc, TemperatureUnit::fahrenheit),
                     c.fahrenheit);
    EXPECT_DOUBLE_EQ(SMCAccess::readTemperature("TC0P"_fcc, TemperatureUnit::kelvin), c.kelvin);
  }
}

TEST(Temperature, KnownSensorsAreTheCatalogueKeysPresent) {
  {
    EmulatedSMC smc(R"({"keys": [{"key": "TCAD", "type": "sp78", "bytes": "2400"}]})");
    EXPECT_TRUE(SMCAccess::knownTemperatureSensors().empty());
    EXPECT_EQ(smc.requests().size(), 29u);
  }
  {
    EmulatedSMC smc(R"({"keys": [{"key": "TA0P", "type": "sp78", "bytes": "1D00"},
                                 {"key": "TN0D", "type": "sp78", "bytes": "3400"}]})");
    auto known = SMCAccess::knownTemperatureSensors();
    std::set<std::string> names;
    for (const auto& s : known) names.insert(s.name);
    EXPECT_EQ(names, (std::set<std::string>{"AMBIENT_AIR_0", "NORTHBRIDGE_DIODE"}));
  }
  EmulatedSMC denied(R"({"notPrivileged": "all", "keys": []})");
  EXPECT_THROW(SMCAccess::knownTemperatureSensors(), SMCAccess::SMCError);
  EXPECT_EQ(denied.requests().size(), 1u) << "stops at the first entry";
}

TEST(Temperature, UnknownSensorsAreUncataloguedSp78TKeys) {
  EmulatedSMC smc(R"({"keys": [
    {"key": "TC0P", "type": "sp78", "bytes": "2D00"},
    {"key": "TCAD", "type": "sp78", "bytes": "2400"},
    {"key": "tCAD", "type": "sp78", "bytes": "2400"},
    {"key": "TFAN", "type": "fpe2", "bytes": "2400"},
    {"key": "TWID", "type": "sp78", "bytes": "24000000"},
    {"key": "Te1S", "type": "sp78", "bytes": "8000"}]})");
  auto unknown = SMCAccess::unknownTemperatureSensors();
  ASSERT_EQ(unknown.size(), 2u);
  EXPECT_EQ(unknown[0], (TemperatureSensor{"Unknown", "TCAD"_fcc}));
  EXPECT_EQ(unknown[1], (TemperatureSensor{"Unknown", "Te1S"_fcc}));
  EmulatedSMC empty(R"({"keys": [{"key": "#KEY", "type": "ui32", "bytes": "00000000"}]})");
  EXPECT_TRUE(SMCAccess::unknownTemperatureSensors().empty());
}

}  // namespace
}  // namespace ventra
