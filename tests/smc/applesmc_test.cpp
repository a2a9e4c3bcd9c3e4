#include "smc/platform/linux/applesmc.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "sensors/fans.h"
#include "smc/smckit.h"
#include "support/emulated_smc.h"

namespace ventra {
namespace {
using literals::operator""_fcc;
namespace lb = smc::linux_backend;
namespace pf = smc::platform;
using testing::errorOf;

// The applesmc attribute files with the driver's semantics: one global key_at_index, names and
// types as four characters and a newline, raw data, fan files in decimal rpm.
class FakeApplesmc : public lb::Sysfs {
 public:
  struct Key {
    std::string name, type, data;
  };
  std::vector<Key> keys;  // sorted, as the driver serves them
  std::map<std::string, std::string> fanFiles;
  bool writesDenied = false;
  std::function<void()> afterDataRead;  // another process moving key_at_index
  std::size_t index = 0;

  int read(const std::string& name, std::string& out) override {
    if (name == "key_count") return out = std::to_string(keys.size()) + "\n", 0;
    if (name == "key_at_index_name") return out = keys.at(index).name + "\n", 0;
    if (name == "key_at_index_type") return out = keys.at(index).type + "\n", 0;
    if (name == "key_at_index_data_length")
      return out = std::to_string(keys.at(index).data.size()) + "\n", 0;
    if (name == "key_at_index_data") {
      out = keys.at(index).data;
      if (afterDataRead) std::exchange(afterDataRead, nullptr)();
      return 0;
    }
    auto file = fanFiles.find(name);
    return file == fanFiles.end() ? ENOENT : (out = file->second + "\n", 0);
  }

  int write(const std::string& name, const std::string& text) override {
    if (name == "key_at_index") {
      std::size_t n = std::stoul(text);
      return n >= keys.size() ? EINVAL : (index = n, 0);
    }
    if (!fanFiles.contains(name)) return ENOENT;
    if (writesDenied) return EACCES;
    fanFiles[name] = text;
    return 0;
  }
};

class ApplesmcBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    files->keys = {{"#KEY", "ui32", std::string("\0\0\0\4", 4)},
                   {"F0Ac", "fpe2", "\x0E\xE0"},
                   {"F0Mn", "fpe2", "\x0C\x80"},
                   {"TA0P", "sp78", "\x1D\x66"}};
    files->fanFiles = {{"fan1_min", "800"}};
    SMCKit::openConnection();
  }
  void TearDown() override { SMCKit::closeConnection(); }

  std::shared_ptr<FakeApplesmc> files = std::make_shared<FakeApplesmc>();
  pf::ScopedService service{pf::kAppleSMCServiceName, lb::appleSMCService(files)};
};

TEST_F(ApplesmcBackend, EnumeratesAndReadsThroughTheCore) {
  auto keys = SMCKit::listAllKeys();
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[1].code, "F0Ac"_fcc);
  EXPECT_EQ(keys[3].info, DataTypes::SP78);
  EXPECT_EQ(SMCKit::fanCurrentSpeed(0), 952);
  EXPECT_EQ(SMCKit::readKey({"TA0P"_fcc, DataTypes::SP78})[1], 0x66);
}

TEST_F(ApplesmcBackend, MissingKeysAndWrongSizesAreSmcResults) {
  EXPECT_EQ(errorOf([] {
              SMCKit::readKey({"TB3T"_fcc, DataTypes::SP78});
            }),
            SMCKit::SMCError::keyNotFound("TB3T"));
  EXPECT_EQ(errorOf([] {
              SMCKit::readKey({"F0Ac"_fcc, DataTypes::UI32});
            }),
            SMCKit::SMCError::unknown(0, 0x87));
  EXPECT_EQ(errorOf([] { SMCKit::getKeyFromIndex(4); }),
            SMCKit::SMCError::keyNotFound(std::string(4, '\0')));
}

TEST_F(ApplesmcBackend, WritesMapToFanFilesAndNothingElse) {
  SMCDataBytes data{0x0E, 0x10};  // 900 rpm
  SMCKit::writeKey({"F0Mn"_fcc, DataTypes::FPE2}, data);
  EXPECT_EQ(files->fanFiles["fan1_min"], "900");
  EXPECT_EQ(errorOf([&] {
              SMCKit::writeKey({"TA0P"_fcc, DataTypes::SP78}, data);
            }),
            SMCKit::SMCError::unknown(pf::kIOReturnUnsupported, 0));
  EXPECT_EQ(errorOf([&] {
              SMCKit::writeKey({"F3Mn"_fcc, DataTypes::FPE2}, data);
            }),
            SMCKit::SMCError::keyNotFound("F3Mn"));
  files->writesDenied = true;
  EXPECT_EQ(errorOf([&] {
              SMCKit::writeKey({"F0Mn"_fcc, DataTypes::FPE2}, data);
            }),
            SMCKit::SMCError::notPrivileged());
}

TEST_F(ApplesmcBackend, ReadsAgainWhenAnotherProcessMovesTheIndex) {
  SMCKit::readKey({"F0Ac"_fcc, DataTypes::FPE2});  // caches the index
  files->afterDataRead = [&] { files->index = 3; };
  SMCDataBytes bytes = SMCKit::readKey({"F0Ac"_fcc, DataTypes::FPE2});
  EXPECT_EQ(bytes[0], 0x0E);
  EXPECT_EQ(bytes[1], 0xE0);
}

TEST_F(ApplesmcBackend, MalformedDriverTextIsAnIoError) {
  files->keys[2].type = "fpe";  // three characters and a newline
  EXPECT_EQ(errorOf([] { SMCKit::getKeyInfo("F0Mn"_fcc); }),
            SMCKit::SMCError::unknown(pf::kIOReturnIOError, 0));
}

TEST(ApplesmcErrno, MapsInOnePlace) {
  EXPECT_EQ(lb::ioReturnFromErrno(EACCES), pf::kIOReturnNotPrivileged);
  EXPECT_EQ(lb::ioReturnFromErrno(EPERM), pf::kIOReturnNotPrivileged);
  EXPECT_EQ(lb::ioReturnFromErrno(EIO), pf::kIOReturnIOError);
  EXPECT_EQ(lb::ioReturnFromErrno(ENOENT), pf::kIOReturnNoDevice);
  EXPECT_EQ(lb::ioReturnFromErrno(ETIMEDOUT), pf::kIOReturnTimeout);
  EXPECT_EQ(lb::ioReturnFromErrno(EMLINK), pf::kIOReturnError);
}

TEST(ApplesmcHost, RegistersOnlyWhenTheDriverDirectoryExists) {
  pf::ScopedService cleared(pf::kAppleSMCServiceName, nullptr);
  lb::registerHostService("/nonexistent/applesmc.768");
  EXPECT_EQ(pf::registeredService(pf::kAppleSMCServiceName), nullptr);

  auto root =
      std::filesystem::temp_directory_path() / ("applesmc-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  std::ofstream(root / "key_count") << "0\n";
  lb::registerHostService(root);
  EXPECT_NE(pf::registeredService(pf::kAppleSMCServiceName), nullptr);
  SMCKit::openConnection();
  EXPECT_EQ(errorOf([] { SMCKit::countKeys(); }), SMCKit::SMCError::keyNotFound("#KEY"));
  SMCKit::closeConnection();
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace ventra
