#include "smc/platform/linux/applesmc.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "composition/composition.h"
#include "sensors/battery.h"
#include "sensors/fans.h"
#include "sensors/temperature.h"
#include "smc/platform/emulator/emulator.h"
#include "smc/platform/linux/hwmon_keys.h"
#include "smc/smc_access.h"
#include "support/emulated_smc.h"
#include "support/model_sysfs.h"
#include "support/sensor_view.h"

namespace ventra {
namespace {
using literals::operator""_fcc;
namespace lb = smc::linux_backend;
namespace pf = smc::platform;
using testing::ApplesmcModel;
using testing::errorOf;
using testing::ModelSysfs;

std::shared_ptr<ApplesmcModel> smallMachine() {
  return std::make_shared<ApplesmcModel>(
      std::vector<ApplesmcModel::Key>{{"#KEY", "ui32", std::string("\0\0\0\x08", 4)},
                                      {"BNum", "ui8 ", "\x02"},
                                      {"F0Ac", "fpe2", "\x0E\xE1"},
                                      {"F0Mn", "fpe2", "\x0C\x80"},
                                      {"FNum", "ui8 ", "\x01"},
                                      {"MSDI", "flag", "\x01"},
                                      {"TA0P", "sp78", "\x1D\x66"},
                                      {"TZZF", "flag", "\x01"}});
}

class ApplesmcBackend : public ::testing::Test {
 protected:
  void SetUp() override { SMCAccess::openConnection(); }
  void TearDown() override { SMCAccess::closeConnection(); }

  std::shared_ptr<ApplesmcModel> model = smallMachine();
  std::shared_ptr<ModelSysfs> files = std::make_shared<ModelSysfs>(model, true);
  ScopedComposition service{Composition::ofSmc(lb::appleSMCService(files))};
};

TEST_F(ApplesmcBackend, EnumeratesAndReadsThroughTheCore) {
  auto keys = SMCAccess::listAllKeys();
  ASSERT_EQ(keys.size(), 8u);
  EXPECT_EQ(keys[2].code, "F0Ac"_fcc);
  EXPECT_EQ(keys[6].info, DataTypes::SP78);
  EXPECT_EQ(SMCAccess::readKey({"MSDI"_fcc, DataTypes::FLAG})[0], 1);
  EXPECT_EQ(SMCAccess::readKey({"BNum"_fcc, DataTypes::UI8})[0], 2);
}

// Root selects every key, fan and temperature keys too: the SMC's own bytes, type and size.
TEST_F(ApplesmcBackend, AsRootEveryKeyIsTheSmcsOwnBytes) {
  EXPECT_EQ(SMCAccess::fanCurrentSpeed(0), 952);
  auto speed = SMCAccess::readKey({"F0Ac"_fcc, DataTypes::FPE2});
  EXPECT_EQ((std::vector<int>{speed[0], speed[1]}), (std::vector<int>{0x0E, 0xE1}));
  auto temperature = SMCAccess::readKey({"TA0P"_fcc, DataTypes::SP78});
  EXPECT_EQ((std::vector<int>{temperature[0], temperature[1]}), (std::vector<int>{0x1D, 0x66}));
  EXPECT_EQ(SMCAccess::getKeyInfo("TZZF"_fcc), DataTypes::FLAG);
  EXPECT_EQ(SMCAccess::fanCount(), 1);
}

// Without root, fan and temperature keys come from the attributes the driver computes, as exact
// as our types decode them (fpe2 without its fraction bits, sp78 in quarter degrees). A key is
// "not found" only where the attributes prove it absent; anything else needs root.
TEST(ApplesmcWithoutRoot, KeysAreRebuiltFromTheAttributesOrNeedRoot) {
  auto files = std::make_shared<ModelSysfs>(smallMachine(), false);
  auto catalogue = [](FourCharCode code) { return code == "TB3T"_fcc; };
  ScopedComposition service{Composition::ofSmc(lb::appleSMCService(files, catalogue))};
  SMCAccess::openConnection();
  auto speed = SMCAccess::readKey({"F0Ac"_fcc, DataTypes::FPE2});
  EXPECT_EQ((std::vector<int>{speed[0], speed[1]}), (std::vector<int>{0x0E, 0xE0}));
  auto temperature = SMCAccess::readKey({"TA0P"_fcc, DataTypes::SP78});
  EXPECT_EQ((std::vector<int>{temperature[0], temperature[1]}), (std::vector<int>{0x1D, 0x40}));
  EXPECT_EQ(errorOf([] { SMCAccess::getKeyInfo("TZZF"_fcc); }),
            SMCAccess::SMCError::notPrivileged())
      << "a T key of another type than sp78 is not in the driver's list, yet exists";
  EXPECT_EQ(errorOf([] { SMCAccess::getKeyInfo("TZZZ"_fcc); }),
            SMCAccess::SMCError::notPrivileged());
  EXPECT_FALSE(SMCAccess::hasKey("TB3T"_fcc)) << "a catalogue key is sp78 wherever it exists";
  EXPECT_EQ(errorOf([] { SMCAccess::fanCurrentSpeed(1); }),
            SMCAccess::SMCError::keyNotFound("F1Ac"))
      << "beyond the driver's fan count";
  SMCAccess::closeConnection();
}

TEST_F(ApplesmcBackend, MissingKeysAndWrongSizesAreSmcResults) {
  EXPECT_EQ(errorOf([] {
              SMCAccess::readKey({"TB3T"_fcc, DataTypes::SP78});
            }),
            SMCAccess::SMCError::keyNotFound("TB3T"));
  EXPECT_EQ(errorOf([] {
              SMCAccess::readKey({"MSDJ"_fcc, DataTypes::FLAG});
            }),
            SMCAccess::SMCError::keyNotFound("MSDJ"));
  EXPECT_EQ(errorOf([] {
              SMCAccess::readKey({"F0Ac"_fcc, DataTypes::UI32});
            }),
            SMCAccess::SMCError::unknown(0, 0x87));
  EXPECT_EQ(errorOf([] {
              SMCAccess::readKey({"MSDI"_fcc, DataTypes::UI32});
            }),
            SMCAccess::SMCError::unknown(0, 0x87));
  EXPECT_EQ(errorOf([] { SMCAccess::getKeyFromIndex(8); }),
            SMCAccess::SMCError::keyNotFound(std::string(4, '\0')));
}

TEST_F(ApplesmcBackend, WritesGoToTheFanFilesOnlyAndNeedRoot) {
  SMCDataBytes data{0x0E, 0x10};  // 900 rpm
  SMCAccess::writeKey({"F0Mn"_fcc, DataTypes::FPE2}, data);
  EXPECT_EQ(SMCAccess::fanMinSpeed(0), 900);
  EXPECT_EQ(errorOf([&] {
              SMCAccess::writeKey({"TA0P"_fcc, DataTypes::SP78}, data);
            }),
            SMCAccess::SMCError::unknown(pf::kIOReturnUnsupported, 0));
  EXPECT_EQ(errorOf([&] {
              SMCAccess::writeKey({"F3Mn"_fcc, DataTypes::FPE2}, data);
            }),
            SMCAccess::SMCError::keyNotFound("F3Mn"));
  files->becomeRoot(false);
  EXPECT_EQ(errorOf([&] {
              SMCAccess::writeKey({"F0Mn"_fcc, DataTypes::FPE2}, data);
            }),
            SMCAccess::SMCError::notPrivileged());
}

TEST_F(ApplesmcBackend, MalformedDriverTextIsAnIoError) {
  model->keys()[5].type = "fla";  // three characters and a newline
  EXPECT_EQ(errorOf([] { SMCAccess::getKeyInfo("MSDI"_fcc); }),
            SMCAccess::SMCError::unknown(pf::kIOReturnIOError, 0));
}

// Another process writes key_at_index at random moments: in the middle of our bisection,
// between our attribute reads, and away and back again. A read as root, fan and temperature
// keys too, may end busy; it never ends as "not found" or as another key's value.
TEST_F(ApplesmcBackend, AnotherProcessMovingTheIndexNeverGivesAWrongAnswer) {
  std::mt19937 random(7);
  model->afterShow = [&](ApplesmcModel& smc, const std::string&) {
    if (random() % 10 == 0) smc.selectIndex(random() % smc.keys().size());
  };
  int busy = 0;
  for (int read = 0; read < 100; ++read) {
    try {
      ASSERT_EQ(SMCAccess::fanCurrentSpeed(0), 952);
      ASSERT_EQ(SMCAccess::readKey({"TA0P"_fcc, DataTypes::SP78})[1], 0x66);
      ASSERT_EQ(SMCAccess::readKey({"BNum"_fcc, DataTypes::UI8})[0], 2);
      ASSERT_EQ(SMCAccess::readKey({"MSDI"_fcc, DataTypes::FLAG})[0], 1);
      ASSERT_EQ(SMCAccess::getKeyInfo("MSDI"_fcc), DataTypes::FLAG);
    } catch (const SMCAccess::SMCError& error) {
      ASSERT_EQ(error, SMCAccess::SMCError::unknown(pf::kIOReturnBusy, 0)) << error.what();
      ++busy;
    }
  }
  EXPECT_LT(busy, 10);
}

// The worst case for a raw read: the index moves to another key right after our check of the
// name and back again before our check after the data.
TEST_F(ApplesmcBackend, AnIndexMovedAwayAndBackIsCaught) {
  SMCAccess::readKey({"BNum"_fcc, DataTypes::UI8});  // caches the index
  std::size_t moves = 0;
  model->afterShow = [&](ApplesmcModel& smc, const std::string& file) {
    if (file == "key_at_index_name" && moves == 0) smc.selectIndex(5), ++moves;  // MSDI
    if (file == "key_at_index_data" && moves == 1) smc.selectIndex(1), ++moves;  // BNum
  };
  auto data = SMCAccess::readKey({"BNum"_fcc, DataTypes::UI8});
  EXPECT_EQ(moves, 2u);
  EXPECT_EQ(data[0], 2);
}

TEST(ApplesmcAttributes, TextBecomesTheKeysBytesOrNothing) {
  auto bytes = [](std::optional<SMCDataBytes> b) {
    return b ? std::vector<int>{b->at(0), b->at(1)} : std::vector<int>{};
  };
  EXPECT_EQ(bytes(lb::fanSpeedBytes("1500\n")), (std::vector<int>{0x17, 0x70}));
  EXPECT_EQ(bytes(lb::fanSpeedBytes("16383\n")), (std::vector<int>{0xFF, 0xFC}));
  for (const char* junk : {"16384\n", "-1\n", "1500", "15 00\n", "\n", "0x10\n", ""})
    EXPECT_FALSE(lb::fanSpeedBytes(junk)) << junk;

  EXPECT_EQ(bytes(lb::temperatureBytes("29250\n")), (std::vector<int>{0x1D, 0x40}));
  EXPECT_EQ(bytes(lb::temperatureBytes("-5000\n")), (std::vector<int>{0xFB, 0x00}));
  EXPECT_EQ(bytes(lb::temperatureBytes("-128000\n")), (std::vector<int>{0x80, 0x00}));
  for (const char* junk : {"29100\n", "128000\n", "-128250\n", "29250", "abc\n"})
    EXPECT_FALSE(lb::temperatureBytes(junk)) << junk;

  auto label = lb::fanLabelBytes("PCI \n");
  ASSERT_TRUE(label);
  EXPECT_EQ(fanNameFromDescriptor(*label).substr(0, 3), "PCI");
  EXPECT_EQ(label->at(7), ' ');
  EXPECT_FALSE(lb::fanLabelBytes("THIRTEEN CHAR\n"));
  EXPECT_FALSE(lb::fanLabelBytes("PCI"));
}

// The MacPro5,1 profile behind the driver model, read as root and as an ordinary user.
class ApplesmcAsUser : public ::testing::TestWithParam<std::string> {
 protected:
  std::shared_ptr<ApplesmcModel> model = std::make_shared<ApplesmcModel>(ApplesmcModel::keysOf(
      smc::emulator::loadProfileFile(VENTRA_SOURCE_DIR "/profiles/macpro5_1-hot.json")));

  std::string viewAs(bool root) {
    ScopedComposition service(Composition::ofSmc(lb::appleSMCService(
        std::make_shared<ModelSysfs>(model, root, GetParam()), testing::catalogueKey)));
    return testing::fanAndTemperatureView();
  }
};

TEST_P(ApplesmcAsUser, FansAndTemperaturesReadTheSameWithoutRoot) {
  std::string asRoot = viewAs(true);
  EXPECT_NE(asRoot.find("fan 0 'PCI"), std::string::npos) << asRoot;
  EXPECT_EQ(viewAs(false), asRoot);
}

TEST_P(ApplesmcAsUser, EveryTemperatureKeyDecodesAsTheRawKeyWould) {
  ScopedComposition service(Composition::ofSmc(lb::appleSMCService(
      std::make_shared<ModelSysfs>(model, false, GetParam()), testing::catalogueKey)));
  SMCAccess::openConnection();
  for (const auto& key : model->keys()) {
    if (key.name[0] != 'T' || key.type != "sp78") continue;
    SMCDataBytes raw{};
    std::copy(key.data.begin(), key.data.end(), raw.begin());
    EXPECT_EQ(SMCAccess::getKeyInfo(*fourCharCodeFromLiteral(key.name)), DataTypes::SP78);
    EXPECT_EQ(SMCAccess::readKey({*fourCharCodeFromLiteral(key.name), DataTypes::SP78})[0], raw[0])
        << key.name;
  }
  SMCAccess::closeConnection();
}

TEST_P(ApplesmcAsUser, KeysTheAttributesDoNotCarryNeedRoot) {
  ScopedComposition service(Composition::ofSmc(lb::appleSMCService(
      std::make_shared<ModelSysfs>(model, false, GetParam()), testing::catalogueKey)));
  SMCAccess::openConnection();
  EXPECT_EQ(errorOf([] { SMCAccess::readMSDIFlag(); }), SMCAccess::SMCError::notPrivileged());
  EXPECT_EQ(errorOf([] { SMCAccess::countKeys(); }), SMCAccess::SMCError::notPrivileged());
  EXPECT_EQ(errorOf([] { SMCAccess::getKeyFromIndex(0); }), SMCAccess::SMCError::notPrivileged());
  EXPECT_EQ(errorOf([] { SMCAccess::unknownTemperatureSensors(); }),
            SMCAccess::SMCError::notPrivileged());
  // What the attributes show to be absent is absent: no F0Sf here, no seventh fan, no TB3T.
  EXPECT_EQ(errorOf([] {
              SMCAccess::readKey({"F0Sf"_fcc, DataTypes::FPE2});
            }),
            SMCAccess::SMCError::keyNotFound("F0Sf"));
  EXPECT_EQ(errorOf([] { SMCAccess::fanCurrentSpeed(6); }),
            SMCAccess::SMCError::keyNotFound("F6Ac"));
  EXPECT_FALSE(SMCAccess::hasKey("TB3T"_fcc));
  SMCAccess::closeConnection();
}

INSTANTIATE_TEST_SUITE_P(Layouts, ApplesmcAsUser, ::testing::Values("", "hwmon/hwmon0/"),
                         [](const auto& layout) {
                           return layout.param.empty() ? "Mainline" : "HwmonDevice";
                         });

TEST(ApplesmcErrno, MapsInOnePlace) {
  EXPECT_EQ(lb::ioReturnFromErrno(EACCES), pf::kIOReturnNotPrivileged);
  EXPECT_EQ(lb::ioReturnFromErrno(EPERM), pf::kIOReturnNotPrivileged);
  EXPECT_EQ(lb::ioReturnFromErrno(EIO), pf::kIOReturnIOError);
  EXPECT_EQ(lb::ioReturnFromErrno(ENOENT), pf::kIOReturnNoDevice);
  EXPECT_EQ(lb::ioReturnFromErrno(ETIMEDOUT), pf::kIOReturnTimeout);
  EXPECT_EQ(lb::ioReturnFromErrno(EMLINK), pf::kIOReturnError);
}

TEST(ApplesmcHost, AServiceOnlyWhereTheDriverDirectoryExists) {
  EXPECT_EQ(lb::hostService("/nonexistent/applesmc.768"), nullptr);

  auto root =
      std::filesystem::temp_directory_path() / ("applesmc-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  std::ofstream(root / "key_count") << "0\n";
  ScopedComposition host(Composition::ofSmc(lb::hostService(root)));
  SMCAccess::openConnection();
  EXPECT_EQ(errorOf([] { SMCAccess::countKeys(); }), SMCAccess::SMCError::keyNotFound("#KEY"));
  SMCAccess::closeConnection();
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace ventra
