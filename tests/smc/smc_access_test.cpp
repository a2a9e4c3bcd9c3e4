#include "smc/smc_access.h"
#include "smc/utf8.h"

#include <gtest/gtest.h>

#include "support/emulated_smc.h"

namespace ventra {
namespace {
using literals::operator""_fcc;
using testing::EmulatedSMC;
using testing::errorOf;
using testing::expectedRequest;
using Kind = SMCAccess::SMCError::Kind;
using Selector = SMCParamStruct::Selector;
namespace pf = smc::platform;

constexpr const char* kFanProfile = R"({"keys": [
  {"key": "F0Ac", "type": "fpe2", "bytes": "1F40"},
  {"key": "F0Mn", "type": "fpe2", "bytes": "0C80", "writable": true},
  {"key": "F0ID", "type": "{fds", "bytes": "00000000 50434920 20202020 20202020"},
  {"key": "TB3T", "type": "sp78", "bytes": "2D80", "result": 1},
  {"key": "TC0P", "type": "sp78", "bytes": "2D80", "ioReturn": "0xE00002CA"}
]})";

TEST(SMCAccessConnection, MissingServiceThrowsDriverNotFoundAndKeepsTheHandle) {
  ScopedComposition none(Composition::ofSmc(nullptr));
  auto before = SMCAccess::connection;
  EXPECT_EQ(errorOf(SMCAccess::openConnection), SMCAccess::SMCError::driverNotFound());
  EXPECT_EQ(SMCAccess::connection, before);
}

TEST(SMCAccessConnection, RefusedOpenThrowsFailedToOpen) {
  EmulatedSMC smc(R"({"service": "openFails", "keys": []})", /*open=*/false);
  EXPECT_EQ(errorOf(SMCAccess::openConnection), SMCAccess::SMCError::failedToOpen());
}

TEST(SMCAccessConnection, ClosedHandleStaysAndLaterCallsFailWithAPlatformCode) {
  EmulatedSMC smc(kFanProfile);
  auto handle = SMCAccess::connection;
  EXPECT_NE(handle, 0u);
  EXPECT_TRUE(SMCAccess::closeConnection());
  EXPECT_EQ(SMCAccess::connection, handle);
  EXPECT_FALSE(SMCAccess::closeConnection()) << "a second close is refused, not thrown";
  EXPECT_EQ(errorOf([] {
              SMCAccess::readKey({"F0Ac"_fcc, DataTypes::FPE2});
            }),
            SMCAccess::SMCError::unknown(pf::kIOReturnNotOpen, 0));
  EXPECT_TRUE(smc.requests().empty()) << "nothing reached the driver";
}

TEST(SMCAccessConnection, ReopeningGivesANewHandle) {
  EmulatedSMC smc(kFanProfile);
  auto first = SMCAccess::connection;
  SMCAccess::openConnection();
  EXPECT_NE(SMCAccess::connection, first);
  EXPECT_EQ(SMCAccess::readKey({"F0Ac"_fcc, DataTypes::FPE2})[0], 0x1F);
  pf::IOServiceClose(first);  // the replaced connection is the caller's to close
}

TEST(SMCAccessRequests, ReadSendsCodeSizeAndCommandOnly) {
  EmulatedSMC smc(kFanProfile);
  SMCDataBytes bytes = SMCAccess::readKey({"F0Ac"_fcc, DataTypes::FPE2});
  EXPECT_EQ(bytes[0], 0x1F);
  EXPECT_EQ(bytes[1], 0x40);
  SMCAccess::readKey({"F0ID"_fcc, DataTypes::FDS});
  auto requests = smc.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].toRaw(), expectedRequest("F0Ac"_fcc, 2, Selector::kSMCReadKey));
  EXPECT_EQ(requests[1].toRaw(), expectedRequest("F0ID"_fcc, 16, Selector::kSMCReadKey));
}

TEST(SMCAccessRequests, WriteSendsAllThirtyTwoCallerBytes) {
  EmulatedSMC smc(kFanProfile);
  SMCDataBytes data{};
  data[0] = 0x0F;
  data[1] = 0xA0;
  data[31] = 0x5A;  // beyond the size, still sent as given
  SMCAccess::writeKey({"F0Mn"_fcc, DataTypes::FPE2}, data);
  auto request = smc.requests().at(0);
  EXPECT_EQ(request.data8, 6);
  EXPECT_EQ(request.keyInfo.dataSize, 2u);
  EXPECT_EQ(request.keyInfo.dataType, 0u);
  EXPECT_EQ(request.bytes, data);
  EXPECT_EQ(smc.smc().peek("F0Mn"_fcc), (std::vector<std::uint8_t>{0x0F, 0xA0}));
}

TEST(SMCAccessRequests, KeyInfoReturnsTheReportedTypeInOneCall) {
  EmulatedSMC smc(kFanProfile);
  EXPECT_EQ(SMCAccess::getKeyInfo("F0ID"_fcc), DataTypes::FDS);
  EXPECT_EQ(smc.requests().at(0).toRaw(), expectedRequest("F0ID"_fcc, 0, Selector::kSMCGetKeyInfo));
  EXPECT_EQ(smc.requests().size(), 1u);
}

// Each row of the driver-failure mapping.
TEST(SMCAccessFailures, MapsEveryDriverOutcome) {
  EmulatedSMC smc(kFanProfile);
  EXPECT_EQ(errorOf([] {
              SMCAccess::readKey({"TB3X"_fcc, DataTypes::SP78});
            }),
            SMCAccess::SMCError::keyNotFound("TB3X"));
  EXPECT_EQ(errorOf([] {
              SMCAccess::readKey({"TB3T"_fcc, DataTypes::SP78});
            }),
            SMCAccess::SMCError::unknown(0, 1));
  EXPECT_EQ(errorOf([] {
              SMCAccess::readKey({"TC0P"_fcc, DataTypes::SP78});
            }),
            SMCAccess::SMCError::unknown(pf::kIOReturnIOError, 0));
  EXPECT_EQ(errorOf([] {
              SMCAccess::writeKey({"F0Ac"_fcc, DataTypes::FPE2}, {});
            }),
            SMCAccess::SMCError::unknown(0, smc::emulator::kSMCKeyNotWritable));
}

TEST(SMCAccessFailures, NotPrivilegedAndHasKey) {
  {
    EmulatedSMC smc(kFanProfile);
    EXPECT_TRUE(SMCAccess::hasKey("F0Ac"_fcc));
    EXPECT_FALSE(SMCAccess::hasKey("TB3X"_fcc));
    EXPECT_EQ(errorOf([] { SMCAccess::hasKey("TB3T"_fcc); }), SMCAccess::SMCError::unknown(0, 1));
  }
  {
    EmulatedSMC smc(R"({"notPrivileged": "writes", "keys": [
      {"key": "F0Mn", "type": "fpe2", "bytes": "0C80", "writable": true}]})");
    EXPECT_EQ(SMCAccess::readKey({"F0Mn"_fcc, DataTypes::FPE2})[0], 0x0C);
    EXPECT_EQ(errorOf([] {
                SMCAccess::writeKey({"F0Mn"_fcc, DataTypes::FPE2}, {});
              }),
              SMCAccess::SMCError::notPrivileged());
  }
  EmulatedSMC smc(R"({"notPrivileged": "all", "keys": []})");
  EXPECT_EQ(errorOf([] { SMCAccess::hasKey("TB3X"_fcc); }), SMCAccess::SMCError::notPrivileged());
}

// A driver that fails the call but leaves 132 in the answer area must not read as key-not-found.
class StaleAnswerClient : public pf::UserClient {
 public:
  pf::kern_return_t callStructMethod(std::uint32_t, std::span<const std::uint8_t>,
                                     std::span<std::uint8_t> out, std::size_t&) override {
    out[40] = 132;
    return pf::kIOReturnTimeout;
  }
};
class StaleAnswerService : public pf::Service {
 public:
  pf::kern_return_t open(std::uint32_t, std::unique_ptr<pf::UserClient>& client) override {
    client = std::make_unique<StaleAnswerClient>();
    return pf::kIOReturnSuccess;
  }
};

TEST(SMCAccessFailures, FailedCallIsNeverKeyNotFound) {
  ScopedComposition service(Composition::ofSmc(std::make_shared<StaleAnswerService>()));
  SMCAccess::openConnection();
  EXPECT_EQ(errorOf([] { SMCAccess::getKeyInfo("F0Ac"_fcc); }),
            SMCAccess::SMCError::unknown(pf::kIOReturnTimeout, 132));
  EXPECT_TRUE(SMCAccess::closeConnection());
}

TEST(SMCError, MessagesNameTheKeyAndCodes) {
  EXPECT_STREQ(SMCAccess::SMCError::keyNotFound("TB3T").what(), "SMC key not found: \"TB3T\"");
  EXPECT_STREQ(
      SMCAccess::SMCError::unknown(pf::kIOReturnNotOpen, 1).what(),
      "SMC call failed (kIOReturn 0xE00002CD kIOReturnNotOpen, SMC result 0x01 kSMCError)");
  EXPECT_STREQ(SMCAccess::SMCError::unknown(0x12345678, 0x99).what(),
               "SMC call failed (kIOReturn 0x12345678, SMC result 0x99)");
  // A key of control bytes is shown escaped, never raw.
  EXPECT_STREQ(SMCAccess::SMCError::keyNotFound(std::string("\0\x1B\xC2\x85"
                                                            "A",
                                                            5))
                   .what(),
               "SMC key not found: \"\\x00\\x1B\\x85A\"");
  // Latin-1 letters from U+00C0 are two bytes of UTF-8 that stay together.
  EXPECT_STREQ(SMCAccess::SMCError::keyNotFound("F0\xC3\x84"
                                                "c")
                   .what(),
               "SMC key not found: \"F0\xC3\x84"
               "c\"");
  EXPECT_EQ(utf8::escapeControls("\xC3\x9F\xC2\xA0\xE2\x82\xAC\x7F\xFF\xC3"),
            "\xC3\x9F\xC2\xA0\xE2\x82\xAC\\x7F\\xFF\\xC3")
      << "ß, no-break space and € pass; DEL, a stray byte and a cut sequence are escaped";
}

}  // namespace
}  // namespace ventra
