#include "smc/platform/emulator/profile.h"

#include <gtest/gtest.h>

#include "smc/smc_access.h"
#include "support/emulated_smc.h"

namespace ventra {
namespace {
using literals::operator""_fcc;
using smc::emulator::parseProfileText;
using smc::emulator::ProfileError;

std::string errorFor(const std::string& json) {
  try {
    parseProfileText(json, "bad.json");
  } catch (const ProfileError& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(Profile, RejectsMalformedInputWithWhereAndWhat) {
  struct Case {
    const char* json;
    const char* message;
  };
  const Case cases[] = {
      {"{", "bad.json: not valid JSON"},
      {"[]", "bad.json: a profile must be a JSON object"},
      {"4444444444e444", "bad.json: not valid JSON"},  // a number too large, found by fuzzing
      {R"({"keys": 3})", "bad.json: \"keys\" must be a list"},
      {R"({"keys": [{"key": "F0A", "type": "fpe2", "bytes": "00"}]})",
       "bad.json: keys[0]: \"key\" must be exactly four characters"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "0FA"}]})",
       "bad.json: keys[0] \"F0Ac\": \"bytes\" must be hex digits in pairs"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": ["0FA0", "zz"]}]})",
       "bad.json: keys[0] \"F0Ac\": bytes[1]: \"bytes\" must be hex digits"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "0FA0", "size": 4}]})",
       "bad.json: keys[0] \"F0Ac\": \"bytes\" holds 2 bytes but the size is 4"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": ["0FA0", "00"]}]})",
       "holds 1 bytes but the size is 2"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "00", "size": 33}]})",
       "\"size\" must be a whole number from 0 to 32"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "00"},
                    {"key": "F0Ac", "type": "fpe2", "bytes": "00"}]})",
       "bad.json: keys[1]: duplicate key \"F0Ac\" (first at keys[0])"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "00", "writeable": true}]})",
       "unknown field \"writeable\""},
      {R"({"service": "gone", "keys": []})", "\"service\" must be one of"},
      {R"({"opensBeforeFailure": -1, "keys": []})", "\"opensBeforeFailure\" must be a whole"},
      {R"({"opensBeforeFailure": 1.5, "keys": []})", "\"opensBeforeFailure\" must be a whole"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "00", "result": 256}]})",
       "\"result\" must be a whole number from 0 to 255"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "00", "ioReturn": "0x1FFFFFFFF"}]})",
       "\"ioReturn\" text must be a 32-bit number"},
      {R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": []}]})",
       "\"bytes\" must be a hex text or a non-empty list"},
  };
  for (const auto& c : cases)
    EXPECT_NE(errorFor(c.json).find(c.message), std::string::npos)
        << c.json << "\n  gave: " << errorFor(c.json);
}

// Found by review: "bytes" nested a hundred thousand arrays deep overflowed the stack.
TEST(Profile, DeepNestingIsAnErrorNotAStackOverflow) {
  const std::size_t depth = 100000;
  std::string deep = R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": )" +
                     std::string(depth, '[') + std::string(depth, ']') + "}]}";
  EXPECT_EQ(errorFor(deep), "bad.json: nested deeper than 32 levels");
}

TEST(Profile, MissingFileIsAnErrorNotACrash) {
  EXPECT_THROW(smc::emulator::loadProfileFile("/nonexistent/profile.json"), ProfileError);
}

TEST(Profile, AddsTheKeyCountUnlessListedOrTurnedOff) {
  auto profile =
      parseProfileText(R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "00 00"}]})", "p");
  ASSERT_EQ(profile.keys.size(), 2u);
  EXPECT_EQ(profile.keys[0].code, "#KEY"_fcc);
  EXPECT_EQ(profile.keys[0].values[0], (std::vector<std::uint8_t>{0, 0, 0, 2}));
  auto off = parseProfileText(
      R"({"autoKeyCount": false, "keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "0000"}]})",
      "p");
  EXPECT_EQ(off.keys.size(), 1u);
}

TEST(Emulator, SuccessiveReadsFollowTheListAndWritesReplaceIt) {
  testing::EmulatedSMC smc(R"({"keys": [
    {"key": "F0Ac", "type": "fpe2", "bytes": ["0FA0", "1770"], "writable": true}]})");
  SMCKey key{"F0Ac"_fcc, DataTypes::FPE2};
  EXPECT_EQ(SMCAccess::readKey(key)[0], 0x0F);
  EXPECT_EQ(SMCAccess::readKey(key)[0], 0x17);
  EXPECT_EQ(SMCAccess::readKey(key)[0], 0x17) << "the last value repeats";
  SMCAccess::writeKey(key, SMCDataBytes{0x01, 0x02});
  EXPECT_EQ(SMCAccess::readKey(key)[1], 0x02);
  EXPECT_THROW(SMCAccess::readKey({"F0Ac"_fcc, DataTypes::UI32}), SMCAccess::SMCError)
      << "size mismatch";
}

// A long `watch` on the emulator must not grow without bound: only recent requests are kept.
TEST(Emulator, KeepsOnlyTheMostRecentRequests) {
  testing::EmulatedSMC smc(R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "0FA0"}]})");
  const std::size_t limit = smc::emulator::SMCEmulator::kHistoryLimit;
  for (std::size_t i = 0; i < limit + 10; ++i) SMCAccess::readKey({"F0Ac"_fcc, DataTypes::FPE2});
  SMCAccess::getKeyInfo("F0Ac"_fcc);
  auto history = smc.requests();
  ASSERT_EQ(history.size(), limit);
  EXPECT_EQ(history.back().data8, 9) << "the newest request is last";
}

}  // namespace
}  // namespace ventra
