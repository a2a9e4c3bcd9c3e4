#include <gtest/gtest.h>

#include "smc/smckit.h"
#include "support/emulated_smc.h"

namespace ventra {
namespace {
using literals::operator""_fcc;
using testing::EmulatedSMC;
using testing::expectedRequest;
using Selector = SMCParamStruct::Selector;

TEST(KeyEnumeration, ZeroKeysIsOneCall) {
  EmulatedSMC smc(R"({"keys": [{"key": "#KEY", "type": "ui32", "bytes": "00000000"}]})");
  EXPECT_TRUE(SMCKit::listAllKeys().empty());
  ASSERT_EQ(smc.requests().size(), 1u);
  EXPECT_EQ(smc.requests()[0].toRaw(), expectedRequest("#KEY"_fcc, 4, Selector::kSMCReadKey));
}

TEST(KeyEnumeration, CountIsMostSignificantByteFirst) {
  EmulatedSMC smc(R"({"keys": [{"key": "#KEY", "type": "ui32", "bytes": "0000012C"}]})");
  EXPECT_EQ(SMCKit::countKeys(), 300);
}

TEST(KeyEnumeration, ListsInIndexOrderWithReportedTypes) {
  // Listed out of order on purpose: the SMC serves keys sorted by code.
  EmulatedSMC smc(R"({"keys": [
    {"key": "TA0P", "type": "sp78", "bytes": "1D60"},
    {"key": "F0Ac", "type": "fpe2", "bytes": "0000 0000", "size": 4}]})");
  auto keys = SMCKit::listAllKeys();
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].code, "#KEY"_fcc);
  EXPECT_EQ(keys[1].code, "F0Ac"_fcc);
  EXPECT_EQ(keys[1].info, (DataType{"fpe2"_fcc, 4})) << "as reported, not the catalogue's";
  EXPECT_EQ(keys[2].info, DataTypes::SP78);
  auto requests = smc.requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_EQ(requests[1].toRaw(), expectedRequest(0, 0, Selector::kSMCGetKeyFromIndex, 0));
  EXPECT_EQ(requests[2].toRaw(), expectedRequest("#KEY"_fcc, 0, Selector::kSMCGetKeyInfo));
  EXPECT_EQ(requests[5].toRaw(), expectedRequest(0, 0, Selector::kSMCGetKeyFromIndex, 2));
  EXPECT_EQ(requests[6].toRaw(), expectedRequest("TA0P"_fcc, 0, Selector::kSMCGetKeyInfo));
}

TEST(KeyEnumeration, FirstFailureEndsTheListing) {
  EmulatedSMC smc(R"({"keys": [
    {"key": "F0Ac", "type": "fpe2", "bytes": "0000"},
    {"key": "TA0P", "type": "sp78", "bytes": "1D60", "result": 132}]})");
  EXPECT_THROW(
      {
        try {
          SMCKit::listAllKeys();
        } catch (const SMCKit::SMCError& e) {
          EXPECT_EQ(e, SMCKit::SMCError::keyNotFound("TA0P"));
          throw;
        }
      },
      SMCKit::SMCError);
  EXPECT_EQ(smc.requests().size(), 7u) << "no request after the failing one";
}

TEST(KeyEnumeration, AJunkCountFailsAtTheFirstMissingIndexNotInAllocation) {
  EmulatedSMC smc(
      R"({"autoKeyCount": false, "keys": [{"key": "#KEY", "type": "ui32", "bytes": "FFFFFFFF"}]})");
  EXPECT_EQ(SMCKit::countKeys(), 4294967295);
  EXPECT_EQ(testing::errorOf(SMCKit::listAllKeys),
            SMCKit::SMCError::keyNotFound(std::string(4, '\0')));
  EXPECT_EQ(smc.requests().size(), 5u) << "count, count, index 0, its info, index 1";
}

TEST(KeyEnumeration, MissingCountAndBadIndexes) {
  EmulatedSMC smc(
      R"({"autoKeyCount": false, "keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "0000"}]})");
  try {
    SMCKit::listAllKeys();
    ADD_FAILURE();
  } catch (const SMCKit::SMCError& e) {
    EXPECT_EQ(e, SMCKit::SMCError::keyNotFound("#KEY"));
  }
  try {
    SMCKit::getKeyFromIndex(5);
    ADD_FAILURE();
  } catch (const SMCKit::SMCError& e) {
    EXPECT_EQ(e, SMCKit::SMCError::keyNotFound(std::string(4, '\0')));
  }
  smc.smc().clearHistory();
  EXPECT_THROW(SMCKit::getKeyFromIndex(-1), std::out_of_range);
  EXPECT_THROW(SMCKit::getKeyFromIndex(0x100000000), std::out_of_range);
  EXPECT_TRUE(smc.requests().empty());
}

}  // namespace
}  // namespace ventra
