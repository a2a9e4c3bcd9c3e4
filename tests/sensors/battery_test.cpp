#include "sensors/battery.h"

#include <gtest/gtest.h>

#include "support/emulated_smc.h"

namespace ventra {
namespace {
using testing::EmulatedSMC;

std::string batteryProfile(const char* count, const char* powered, const char* status) {
  return std::string(R"({"keys": [{"key": "BNum", "type": "ui8 ", "bytes": ")") + count +
         R"("}, {"key": "BATP", "type": "flag", "bytes": ")" + powered +
         R"("}, {"key": "BSIn", "type": "ui8 ", "bytes": ")" + status + "\"}]}";
}

TEST(Battery, DecodesCountPowerAndStatusBits) {
  struct Case {
    const char *count, *powered, *status;
    batteryInfo expected;  // count, AC, battery powered, ok, charging
  };
  const Case cases[] = {
      {"02", "01", "43", {2, true, true, true, true}},
      {"FF", "02", "3C", {255, false, false, false, false}},
      {"00", "FF", "80", {0, false, false, false, false}},
      {"01", "00", "01", {1, false, false, false, true}},
      {"01", "00", "02", {1, true, false, false, false}},
      {"01", "00", "40", {1, false, false, true, false}},
  };
  for (const auto& c : cases) {
    EmulatedSMC smc(batteryProfile(c.count, c.powered, c.status));
    EXPECT_EQ(SMCAccess::readBatteryInfo(), c.expected) << c.count << c.powered << c.status;
    EXPECT_EQ(smc.requestedKeys(), (std::vector<std::string>{"BNum", "BATP", "BSIn"}));
  }
}

TEST(Battery, StopsAtTheFirstMissingKey) {
  EmulatedSMC smc(R"({"keys": [{"key": "BNum", "type": "ui8 ", "bytes": "00"},
                               {"key": "BSIn", "type": "ui8 ", "bytes": "00"}]})");
  try {
    SMCAccess::readBatteryInfo();
    ADD_FAILURE();
  } catch (const SMCAccess::SMCError& error) {
    EXPECT_EQ(error, SMCAccess::SMCError::keyNotFound("BATP"));
  }
  EXPECT_EQ(smc.requestedKeys(), (std::vector<std::string>{"BNum", "BATP"}));
}

TEST(Battery, MsdiIsTrueOnlyForOne) {
  for (auto [bytes, expected] :
       {std::pair{"01", true}, {"00", false}, {"02", false}, {"FF", false}}) {
    EmulatedSMC smc(std::string(R"({"keys": [{"key": "MSDI", "type": "flag", "bytes": ")") + bytes +
                    "\"}]}");
    EXPECT_EQ(SMCAccess::readMSDIFlag(), expected) << bytes;
  }
}

}  // namespace
}  // namespace ventra
