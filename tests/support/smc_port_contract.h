#pragma once

// The SMC port's contract, one suite for every backend behind it (the emulator, the applesmc
// backend over the driver model in process, the same over the FUSE stand-in): each serves
// tests/smc/contract-profile.json, and each must answer a read, key information, a key at an
// index, a write and the errors alike, as root and as a user who may not select keys. Include it
// in one file of a test program and instantiate SmcPortContract there with its backends.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "composition/composition.h"
#include "sensors/fans.h"
#include "smc/platform/emulator/profile.h"
#include "smc/smc_access.h"
#include "support/emulated_smc.h"

namespace ventra::testing {

struct SmcPortUnderTest {
  std::string name;  // a test name's part: letters and digits
  // The backend serving the contract's profile, as a process's composition; one without an SMC
  // where the backend is not there (the stand-in not mounted): the suite is then skipped.
  std::function<Composition()> compose;
  // Whether the caller may select every key: root on applesmc; everyone on the emulator.
  bool selectsKeys = true;
};

// tests/smc/contract-profile.json, or where VENTRA_CONTRACT_PROFILE says (a copy an ordinary
// user can read, for the stand-in's road).
inline void PrintTo(const SmcPortUnderTest& backend, std::ostream* out) {
  *out << backend.name;
}

inline smc::emulator::Profile contractProfile() {
  const char* copy = std::getenv("VENTRA_CONTRACT_PROFILE");
  return smc::emulator::loadProfileFile(
      copy ? copy : VENTRA_SOURCE_DIR "/tests/smc/contract-profile.json");
}

class SmcPortContract : public ::testing::TestWithParam<SmcPortUnderTest> {
 protected:
  void SetUp() override {
    Composition backend = GetParam().compose();
    if (!backend.smc) GTEST_SKIP() << GetParam().name << " is not there to test";
    installed_.emplace(std::move(backend));
    SMCAccess::openConnection();
  }
  void TearDown() override {
    if (!installed_) return;
    SMCAccess::closeConnection();
    installed_.reset();
  }
  bool selectsKeys() const { return GetParam().selectsKeys; }
  const smc::emulator::Profile profile_ = contractProfile();

 private:
  std::optional<ScopedComposition> installed_;
};

inline std::vector<int> bytesOf(const SMCDataBytes& data, std::uint32_t size) {
  return {data.begin(), data.begin() + size};
}

// Every key at its index, with its type, size and bytes, for a caller who may select keys; for
// one who may not, the key count and the index are refused as not privileged.
TEST_P(SmcPortContract, EveryKeyAtItsIndexWithItsTypeAndBytes) {
  if (!selectsKeys()) {
    EXPECT_EQ(errorOf([] { SMCAccess::countKeys(); }), SMCAccess::SMCError::notPrivileged());
    EXPECT_EQ(errorOf([] { SMCAccess::getKeyFromIndex(0); }), SMCAccess::SMCError::notPrivileged());
    return;
  }
  ASSERT_EQ(SMCAccess::countKeys(), static_cast<std::int64_t>(profile_.keys.size()));
  for (std::size_t i = 0; i < profile_.keys.size(); ++i) {
    const auto& key = profile_.keys[i];
    const std::string name = fourCharCodeToString(key.code);
    EXPECT_EQ(SMCAccess::getKeyFromIndex(static_cast<std::int64_t>(i)), key.code) << i;
    EXPECT_EQ(SMCAccess::getKeyInfo(key.code), key.info) << name;
    EXPECT_EQ(bytesOf(SMCAccess::readKey({key.code, key.info}), key.info.size),
              std::vector<int>(key.values[0].begin(), key.values[0].end()))
        << name;
  }
}

// Fan and temperature keys read the same for every caller; others need the privilege.
TEST_P(SmcPortContract, FansAndTemperaturesForEveryoneOtherKeysWithThePrivilege) {
  EXPECT_EQ(SMCAccess::fanCount(), 1);
  EXPECT_EQ(SMCAccess::fanCurrentSpeed(0), 952);
  const auto ta0p = *fourCharCodeFromLiteral("TA0P");
  EXPECT_EQ(bytesOf(SMCAccess::readKey({ta0p, DataTypes::SP78}), 2),
            (std::vector<int>{0x1D, 0x40}));
  const auto msdi = *fourCharCodeFromLiteral("MSDI");
  if (selectsKeys())
    EXPECT_EQ(SMCAccess::readKey({msdi, DataTypes::FLAG})[0], 1);
  else
    EXPECT_EQ(errorOf([&] {
                SMCAccess::readKey({msdi, DataTypes::FLAG});
              }),
              SMCAccess::SMCError::notPrivileged());
}

// A key the SMC does not have is not found, for a caller who may select keys; for one who may
// not, only a fan's key beyond the fans there are is proven absent, and any other needs the
// privilege to tell.
TEST_P(SmcPortContract, AKeyThatIsNotThereIsNotFound) {
  const auto f7ac = *fourCharCodeFromLiteral("F7Ac");
  EXPECT_EQ(errorOf([&] {
              SMCAccess::readKey({f7ac, DataTypes::FPE2});
            }),
            SMCAccess::SMCError::keyNotFound("F7Ac"));
  const auto zzzz = *fourCharCodeFromLiteral("ZZZZ");
  EXPECT_EQ(errorOf([&] { SMCAccess::getKeyInfo(zzzz); }),
            selectsKeys() ? SMCAccess::SMCError::keyNotFound("ZZZZ")
                          : SMCAccess::SMCError::notPrivileged());
  EXPECT_EQ(errorOf([&] {
              SMCAccess::readKey({zzzz, DataTypes::UI8});
            }),
            selectsKeys() ? SMCAccess::SMCError::keyNotFound("ZZZZ")
                          : SMCAccess::SMCError::notPrivileged());
  if (selectsKeys()) {
    EXPECT_EQ(errorOf([&] {
                SMCAccess::getKeyFromIndex(static_cast<std::int64_t>(profile_.keys.size()));
              }).kind(),
              SMCAccess::SMCError::Kind::keyNotFound)
        << "an index past the last key";
  }
}

// A fan's minimum is written and read back by a caller with the privilege, refused to others
// and left as it was.
TEST_P(SmcPortContract, AFansMinimumIsWrittenAndReadBackWithThePrivilege) {
  const auto f0mn = *fourCharCodeFromLiteral("F0Mn");
  if (!selectsKeys()) {
    EXPECT_EQ(errorOf([] { SMCAccess::fanSetMinSpeed(0, 1200); }),
              SMCAccess::SMCError::notPrivileged());
    EXPECT_EQ(SMCAccess::fanMinSpeed(0), 800);
    return;
  }
  SMCAccess::fanSetMinSpeed(0, 1200);
  EXPECT_EQ(SMCAccess::fanMinSpeed(0), 1200);
  EXPECT_EQ(bytesOf(SMCAccess::readKey({f0mn, DataTypes::FPE2}), 2),
            (std::vector<int>{0x12, 0xC0}));
  SMCAccess::fanSetMinSpeed(0, 800);  // as it was, for the next caller of a shared SMC
}

// A write the SMC cannot take is refused and leaves the key as it was: one of the wrong size
// with the firmware's size mismatch, for every caller; one to a key that is not written (a
// fan's maximum) as a failure of the call, which the driver cannot tell apart from the firmware's
// "not writable" (it has no way to write that key at all).
TEST_P(SmcPortContract, AWriteTheSmcCannotTakeIsRefusedAndTheKeyKeepsItsValue) {
  const auto f0mx = *fourCharCodeFromLiteral("F0Mx");
  const auto f0mn = *fourCharCodeFromLiteral("F0Mn");
  SMCDataBytes data{};
  data[0] = 0x12;
  auto write = [&](FourCharCode key, std::uint32_t size) {
    return errorOf([&] { SMCAccess::writeKey({key, {DataTypes::FPE2.type, size}}, data); });
  };
  EXPECT_EQ(write(f0mn, 3), SMCAccess::SMCError::unknown(0, SMCResultCode::kSMCKeySizeMismatch));
  EXPECT_EQ(write(f0mx, 2).kind(), SMCAccess::SMCError::Kind::unknown);
  EXPECT_EQ(SMCAccess::fanMaxSpeed(0), 4500);
  EXPECT_EQ(SMCAccess::fanMinSpeed(0), 800);
}

}  // namespace ventra::testing
