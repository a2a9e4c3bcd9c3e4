// The SMC layer against the applesmc stand-in mounted by run-standin-tests.sh: real files with
// the kernel driver's modes, read by whoever runs this (root, then an ordinary user).

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "app/controller.h"
#include "composition/emulated_smc.h"
#include "sensors/battery.h"
#include "smc/platform/linux/applesmc.h"
#include "support/emulated_smc.h"
#include "support/sensor_view.h"
#include "support/smc_port_contract.h"

namespace ventra {
namespace {
namespace pf = smc::platform;
using testing::errorOf;
using testing::SmcPortContract;

class Standin : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* mount = std::getenv("VENTRA_APPLESMC_STANDIN");
    const char* profile = std::getenv("VENTRA_STANDIN_PROFILE");
    if (!mount || !profile) GTEST_SKIP() << "no stand-in mounted (run run-standin-tests.sh)";
    directory_ = mount;
    profile_ = smc::emulator::loadProfileFile(profile);
  }
  Composition driver() {
    return Composition::ofSmc(smc::linux_backend::appleSMCService(
        smc::linux_backend::directorySysfs(directory_), testing::catalogueKey));
  }
  // What the keys themselves say, from the emulator serving the same profile.
  template <typename F>
  auto fromTheKeys(F&& read) {
    ScopedComposition emulator(emulatedSmc(profile_).composition);
    return read();
  }
  static bool root() { return geteuid() == 0; }

  std::string directory_;
  smc::emulator::Profile profile_;
};

TEST_F(Standin, FansAndTemperaturesReadAsTheKeysSay) {
  std::string expected = fromTheKeys([] { return testing::fanAndTemperatureView(); });
  ScopedComposition service(driver());
  EXPECT_EQ(testing::fanAndTemperatureView(), expected);
}

TEST_F(Standin, TheAppsFanProbeReadsTheRealSpeed) {
  std::int64_t expected = fromTheKeys([] { return app::probeFanSpeed(); });
  ScopedComposition service(driver());
  EXPECT_GT(expected, 1000);
  EXPECT_EQ(app::probeFanSpeed(), expected);
}

TEST_F(Standin, OtherKeysNeedRoot) {
  ScopedComposition service(driver());
  SMCAccess::openConnection();
  if (root()) {
    bool msdi = fromTheKeys([] {
      SMCAccess::openConnection();
      return SMCAccess::readMSDIFlag();
    });
    EXPECT_EQ(SMCAccess::readMSDIFlag(), msdi);
    EXPECT_EQ(SMCAccess::countKeys(), static_cast<std::int64_t>(profile_.keys.size()));
  } else {
    EXPECT_EQ(errorOf([] { SMCAccess::readMSDIFlag(); }), SMCAccess::SMCError::notPrivileged());
    EXPECT_EQ(errorOf([] { SMCAccess::listAllKeys(); }), SMCAccess::SMCError::notPrivileged());
    EXPECT_EQ(errorOf([] { SMCAccess::fanSetMinSpeed(0, 900); }),
              SMCAccess::SMCError::notPrivileged());
  }
  SMCAccess::closeConnection();
}

// Another process selects a random key every few milliseconds while we read: every 5 ms, or
// where reads are slow (a sanitizer build) a few times a read, so that reads can still succeed.
std::chrono::microseconds writerPeriod() {
  SMCAccess::readMSDIFlag();  // finds and caches the key's index
  auto started = std::chrono::steady_clock::now();
  SMCAccess::readMSDIFlag();
  auto oneRead = std::chrono::steady_clock::now() - started;
  return std::max<std::chrono::microseconds>(
      std::chrono::milliseconds(5),
      std::chrono::duration_cast<std::chrono::microseconds>(oneRead * 4));
}

TEST_F(Standin, ReadsUnderAConcurrentSelectionAreRightOrBusy) {
  if (!root()) GTEST_SKIP() << "only root may write key_at_index";
  ScopedComposition service(driver());
  SMCAccess::openConnection();
  const auto period = writerPeriod();
  std::atomic<bool> done{false};
  std::thread writer([&] {
    std::mt19937 random(1);
    std::string path = directory_ + "/key_at_index";
    while (!done) {
      std::string index = std::to_string(random() % profile_.keys.size());
      int fd = ::open(path.c_str(), O_WRONLY);
      if (fd >= 0 && ::write(fd, index.data(), index.size()) < 0) ADD_FAILURE() << "writer";
      if (fd >= 0) ::close(fd);
      std::this_thread::sleep_for(period);
    }
  });
  int busy = 0;
  for (int read = 0; read < 100; ++read) {
    try {
      EXPECT_FALSE(SMCAccess::readMSDIFlag());
      EXPECT_EQ(SMCAccess::readKey({*fourCharCodeFromLiteral("BSIn"), DataTypes::UI8})[0], 0x42);
    } catch (const SMCAccess::SMCError& error) {
      EXPECT_EQ(error, SMCAccess::SMCError::unknown(pf::kIOReturnBusy, 0)) << error.what();
      ++busy;
    }
  }
  SMCAccess::closeConnection();
  done = true;
  writer.join();
  std::cout << "reads that ended busy: " << busy << " of 100, writer every " << period.count()
            << " us\n";
  EXPECT_LT(busy, 50);
}

// The SMC port's contract through the stand-in serving its profile, as whoever runs this.
testing::SmcPortUnderTest standinBackend() {
  auto compose = [] {
    const char* mount = std::getenv("VENTRA_CONTRACT_STANDIN");
    if (!mount) return Composition{};  // run-standin-tests.sh mounts it
    return Composition::ofSmc(smc::linux_backend::appleSMCService(
        smc::linux_backend::directorySysfs(mount), [](FourCharCode) { return false; }));
  };
  return {geteuid() == 0 ? "standinAsRoot" : "standinAsUser", compose, geteuid() == 0};
}

INSTANTIATE_TEST_SUITE_P(Standin, SmcPortContract, ::testing::Values(standinBackend()),
                         [](const auto& backend) { return backend.param.name; });

}  // namespace
}  // namespace ventra
