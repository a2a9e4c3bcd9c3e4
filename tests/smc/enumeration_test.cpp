#include <gtest/gtest.h>

#include "smc/smc_access.h"
#include "support/emulated_smc.h"

namespace ventra {
namespace {
using literals::operator""_fcc;
using testing::EmulatedSMC;
using testing::expectedRequest;
using Selector = SMCParamStruct::Selector;

TEST(KeyEnumeration, ZeroKeysIsOneCall) {
  EmulatedSMC smc(R"({"keys": [{"key": "#KEY", "type": "ui32", "bytes": "00000000"}]})");
  EXPECT_TRUE(SMCAccess::listAllKeys().empty());
  ASSERT_EQ(smc.requests().size(), 1u);
  EXPECT_EQ(smc.requests()[0].toRaw(), expectedRequest("#KEY"_fcc, 4, Selector::kSMCReadKey));
}

TEST(KeyEnumeration, CountIsMostSignificantByteFirst) {
  EmulatedSMC smc(R"({"keys": [{"key": "#KEY", "type": "ui32", "bytes": "0000012C"}]})");
  EXPECT_EQ(SMCAccess::countKeys(), 300);
}

TEST(KeyEnumeration, ListsInIndexOrderWithReportedTypes) {
  // Listed out of order on purpose: the SMC serves keys sorted by code.
  EmulatedSMC smc(R"({"keys": [
    {"key": "TA0P", "type": "sp78", "bytes": "1D60"},
    {"key": "F0Ac", "type": "fpe2", "bytes": "0000 0000", "size": 4}]})");
  auto keys = SMCAccess::listAllKeys();
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
          SMCAccess::listAllKeys();
        } catch (const SMCAccess::SMCError& e) {
          EXPECT_EQ(e, SMCAccess::SMCError::keyNotFound("TA0P"));
          throw;
        }
      },
      SMCAccess::SMCError);
  EXPECT_EQ(smc.requests().size(), 7u) << "no request after the failing one";
}

TEST(KeyEnumeration, AJunkCountFailsAtTheFirstMissingIndexNotInAllocation) {
  EmulatedSMC smc(
      R"({"autoKeyCount": false, "keys": [{"key": "#KEY", "type": "ui32", "bytes": "FFFFFFFF"}]})");
  EXPECT_EQ(SMCAccess::countKeys(), 4294967295);
  EXPECT_EQ(testing::errorOf(SMCAccess::listAllKeys),
            SMCAccess::SMCError::keyNotFound(std::string(4, '\0')));
  EXPECT_EQ(smc.requests().size(), 5u) << "count, count, index 0, its info, index 1";
}

TEST(KeyEnumeration, MissingCountAndBadIndexes) {
  EmulatedSMC smc(
      R"({"autoKeyCount": false, "keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "0000"}]})");
  try {
    SMCAccess::listAllKeys();
    ADD_FAILURE();
  } catch (const SMCAccess::SMCError& e) {
    EXPECT_EQ(e, SMCAccess::SMCError::keyNotFound("#KEY"));
  }
  try {
    SMCAccess::getKeyFromIndex(5);
    ADD_FAILURE();
  } catch (const SMCAccess::SMCError& e) {
    EXPECT_EQ(e, SMCAccess::SMCError::keyNotFound(std::string(4, '\0')));
  }
  smc.smc().clearHistory();
  EXPECT_THROW(SMCAccess::getKeyFromIndex(-1), std::out_of_range);
  EXPECT_THROW(SMCAccess::getKeyFromIndex(0x100000000), std::out_of_range);
  EXPECT_TRUE(smc.requests().empty());
}

}  // namespace
}  // namespace ventra
