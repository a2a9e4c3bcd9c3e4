#include "sensors/fans.h"

#include <gtest/gtest.h>

#include "support/emulated_smc.h"

namespace ventra {
namespace {
using testing::EmulatedSMC;
using testing::errorOf;
using Error = SMCAccess::SMCError;

SMCDataBytes descriptor(std::initializer_list<std::uint8_t> name) {
  SMCDataBytes bytes{};
  std::copy(name.begin(), name.end(), bytes.begin() + 4);
  return bytes;
}

TEST(FanNames, TrimBlanksAndTabsButKeepZeroBytes) {
  EXPECT_EQ(fanNameFromDescriptor(
                descriptor({' ', ' ', 'B', 'O', 'O', 'S', ' ', ' ', ' ', ' ', ' ', ' '})),
            "BOOS");
  EXPECT_EQ(fanNameFromDescriptor(descriptor({'P', 'S', ' ', 0, 0, 0, 0, 0, 0, 0, 0, 0})),
            std::string("PS \0\0\0\0\0\0\0\0\0", 12));
  EXPECT_EQ(fanNameFromDescriptor(descriptor({'\t', 0xA0, 'C', 'a', 'f', 0xE9, 0xA0, ' '})),
            std::string("Caf\xC3\xA9\xC2\xA0 \0\0\0\0", 12));
  EXPECT_EQ(fanNameFromDescriptor(
                descriptor({' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '})),
            "");
}

TEST(Fans, SpeedsDecodeTheIntegerPartOfFpe2) {
  EmulatedSMC smc(R"({"keys": [
    {"key": "F0Ac", "type": "fpe2", "bytes": "1F40"}, {"key": "F0Mn", "type": "fpe2", "bytes": "0003"},
    {"key": "F0Mx", "type": "fpe2", "bytes": "FFFF"}]})");
  EXPECT_EQ(SMCAccess::fanCurrentSpeed(0), 2000);
  EXPECT_EQ(SMCAccess::fanMinSpeed(0), 0);
  EXPECT_EQ(SMCAccess::fanMaxSpeed(0), 16383);
  EXPECT_EQ(smc.requests()[0].toRaw(),
            testing::expectedRequest(0x46304163, 2, SMCParamStruct::Selector::kSMCReadKey));
}

TEST(Fans, AllFansReadsInOrderAndFailsWhole) {
  EmulatedSMC smc(R"({"keys": [{"key": "FNum", "type": "ui8 ", "bytes": "02"},
    {"key": "F0ID", "type": "{fds", "bytes": "00000000 50434920 20202020 20202020"},
    {"key": "F0Mn", "type": "fpe2", "bytes": "0C80"}, {"key": "F0Mx", "type": "fpe2", "bytes": "4650"},
    {"key": "F1ID", "type": "{fds", "bytes": "00000000 50530000 00000000 00000000"},
    {"key": "F1Mn", "type": "fpe2", "bytes": "0960"}, {"key": "F1Mx", "type": "fpe2", "bytes": "2BC0"}]})");
  auto fans = SMCAccess::allFans();
  ASSERT_EQ(fans.size(), 2u);
  EXPECT_EQ(fans[0], (Fan{0, "PCI", 800, 4500}));
  EXPECT_EQ(fans[1].maxSpeed, 2800);
  EXPECT_EQ(smc.requestedKeys(),
            (std::vector<std::string>{"FNum", "F0ID", "F0Mn", "F0Mx", "F1ID", "F1Mn", "F1Mx"}));
  EmulatedSMC broken(R"({"keys": [{"key": "FNum", "type": "ui8 ", "bytes": "02"},
    {"key": "F0ID", "type": "{fds", "bytes": "00000000 50434920 20202020 20202020"},
    {"key": "F0Mx", "type": "fpe2", "bytes": "4650"}]})");
  EXPECT_EQ(errorOf(SMCAccess::allFans), Error::keyNotFound("F0Mn"));
  EXPECT_EQ(broken.requestedKeys(), (std::vector<std::string>{"FNum", "F0ID", "F0Mn"}));
}

TEST(Fans, ZeroFansIsOneRead) {
  EmulatedSMC smc(R"({"keys": [{"key": "FNum", "type": "ui8 ", "bytes": "00"}]})");
  EXPECT_TRUE(SMCAccess::allFans().empty());
  EXPECT_EQ(smc.requests().size(), 1u);
}

TEST(Fans, NumbersOutsideZeroToNineFailBeforeAnyRequest) {
  EmulatedSMC smc(R"({"keys": []})");
  EXPECT_EQ(errorOf([] { SMCAccess::fanCurrentSpeed(10); }), Error::keyNotFound("F10Ac"));
  EXPECT_EQ(errorOf([] { SMCAccess::fanName(-1); }), Error::keyNotFound("F-1ID"));
  EXPECT_EQ(errorOf([] { SMCAccess::fanSetMinSpeed(12, 900); }), Error::keyNotFound("F12Mx"));
  EXPECT_TRUE(smc.requests().empty());
}

struct SetMinCase {
  const char* maxBytes;
  std::int64_t speed;
  std::optional<std::vector<std::uint8_t>> written;  // nothing: unsafeFanSpeed
};

TEST(Fans, SetMinSpeedChecksBoundsAgainstTheMaximum) {
  const SetMinCase cases[] = {
      {"5DC0", 6000, std::vector<std::uint8_t>{0x5D, 0xC0}},  // max 6000, inclusive
      {"5DC0", 1, std::vector<std::uint8_t>{0x00, 0x04}},
      {"5DC0", 6001, std::nullopt},
      {"5DC0", 0, std::nullopt},
      {"5DC0", -5, std::nullopt},
      {"0000", 1, std::nullopt},  // a maximum of 0 refuses every speed
  };
  for (const auto& c : cases) {
    EmulatedSMC smc(std::string(R"({"keys": [{"key": "F0Mx", "type": "fpe2", "bytes": ")") +
                    c.maxBytes +
                    R"("}, {"key": "F0Mn", "type": "fpe2", "bytes": "0000", "writable": true}]})");
    if (c.written) {
      SMCAccess::fanSetMinSpeed(0, c.speed);
      EXPECT_EQ(smc.smc().peek(0x46304D6E), c.written) << c.speed;
      EXPECT_EQ(smc.requests().at(1).data8, 6);
      EXPECT_EQ(smc.requests().at(1).keyInfo.dataSize, 2u);
    } else {
      EXPECT_EQ(errorOf([&] { SMCAccess::fanSetMinSpeed(0, c.speed); }), Error::unsafeFanSpeed());
      EXPECT_EQ(smc.requestedKeys(), std::vector<std::string>{"F0Mx"}) << "nothing written";
    }
  }
}

TEST(Fans, SetMinSpeedPassesTheMaximumReadErrorOnUnchanged) {
  EmulatedSMC smc(R"({"notPrivileged": "all", "keys": []})");
  EXPECT_EQ(errorOf([] { SMCAccess::fanSetMinSpeed(0, 900); }), Error::notPrivileged());
  EXPECT_EQ(smc.requests().size(), 1u);
}

}  // namespace
}  // namespace ventra
