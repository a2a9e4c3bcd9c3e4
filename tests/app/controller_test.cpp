#include "app/controller.h"

#include "app/app_delegate.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "sim/sim_desktop.h"
#include "smc/smc_access.h"
#include "support/emulated_smc.h"

namespace ventra::app {
namespace {
using literals::operator""_fcc;
using platform::AppleEventDescriptor;

TEST(LaunchFacts, LoginItemNeedsOappWithPrdtLgit) {
  EXPECT_FALSE(isLoginItemLaunch(std::nullopt));
  EXPECT_FALSE(isLoginItemLaunch(AppleEventDescriptor{"odoc"_fcc, {{"prdt"_fcc, "lgit"_fcc}}}));
  EXPECT_FALSE(isLoginItemLaunch(AppleEventDescriptor{"oapp"_fcc, {}}));
  EXPECT_FALSE(isLoginItemLaunch(AppleEventDescriptor{"oapp"_fcc, {{"prdt"_fcc, "usrl"_fcc}}}));
  EXPECT_FALSE(isLoginItemLaunch(AppleEventDescriptor{"oapp"_fcc, {{"prdx"_fcc, "lgit"_fcc}}}));
  EXPECT_TRUE(isLoginItemLaunch(AppleEventDescriptor{"oapp"_fcc, {{"prdt"_fcc, "lgit"_fcc}}}));
}

TEST(LaunchFacts, ForcedModeIsCommandAloneInTheUpperBits) {
  EXPECT_TRUE(isForcedMode(0x00100000));
  EXPECT_TRUE(isForcedMode(0x0010FFFF)) << "device-dependent bits are ignored";
  for (std::uint64_t other : {0x00020000u, 0x00080000u, 0x00040000u, 0x00010000u, 0x00800000u})
    EXPECT_FALSE(isForcedMode(0x00100000 | other)) << std::hex << other;
  EXPECT_FALSE(isForcedMode(0));
  EXPECT_FALSE(isForcedMode(0x00020000));
}

TEST(LoginDelay, AbsoluteFiniteAndOnlyAsLongAsTheClockHolds) {
  EXPECT_EQ(loginDelaySeconds(-30.0), 30.0);
  EXPECT_EQ(loginDelaySeconds(12.5), 12.5);
  EXPECT_EQ(loginDelaySeconds(0.0), 0.0);
  EXPECT_EQ(loginDelaySeconds(std::numeric_limits<double>::quiet_NaN()), 0.0);
  EXPECT_EQ(loginDelaySeconds(std::numeric_limits<double>::infinity()), 0.0);
  EXPECT_EQ(loginDelaySeconds(-std::numeric_limits<double>::infinity()), 0.0);
  EXPECT_EQ(loginDelaySeconds(7200.0), 7200.0);
  EXPECT_EQ(loginDelaySeconds(-86400.0 * 40), 86400.0 * 40);
  EXPECT_EQ(loginDelaySeconds(-1e300), platform::kLongestDelaySeconds);
}

std::string hostModelOf(std::optional<std::string> model) {
  sim::Scenario scenario;
  scenario.hostModel = std::move(model);
  sim::Trace trace;
  ScopedComposition installed(Composition::ofDesktop(sim::simulatedDesktop(scenario, trace)));
  return readHostModel();
}

// Stored, else registered, else 0; the stored value is asked for at each read.
TEST(UserDefaults, StoredElseRegisteredElseZero) {
  std::map<std::string, platform::DefaultValue> stored;
  platform::UserDefaults defaults(
      [&](const std::string& key) -> std::optional<platform::DefaultValue> {
        auto found = stored.find(key);
        if (found == stored.end()) return std::nullopt;
        return found->second;
      });
  EXPECT_EQ(defaults.doubleForKey("DelayAtLogin"), 0.0);
  defaults.registerDefaults({{"DelayAtLogin", std::int64_t{30}}});
  EXPECT_EQ(defaults.doubleForKey("DelayAtLogin"), 30.0);
  stored["DelayAtLogin"] = -1.5;
  EXPECT_EQ(defaults.doubleForKey("DelayAtLogin"), -1.5);
  stored["DelayAtLogin"] = std::int64_t{0};
  EXPECT_EQ(defaults.doubleForKey("DelayAtLogin"), 0.0) << "a stored 0 is still stored";
  EXPECT_EQ(defaults.doubleForKey("Other"), 0.0);
}

// The process's exit status is the desktop's: stopped from outside (a signal), the app quits as
// it would, its alert withdrawn, and the status says why.
TEST(ApplicationMain, ExitsWithTheStatusTheDesktopEndedWith) {
  class StoppedAtOnce final : public platform::DesktopBackend {
   public:
    StoppedAtOnce(const sim::Scenario& scenario, sim::Trace& trace)
        : sim_(scenario, trace, false) {}
    void runUntilQuit(const std::function<void(int)>& stop) override { stop(128 + 15); }
    void quit() override { sim_.quit(); }
    void runAfter(double seconds, std::function<void()> work) override {
      sim_.runAfter(seconds, std::move(work));
    }
    std::optional<std::string> hostModel() override { return sim_.hostModel(); }
    bool launchedAsLoginItem(int argc, char** argv) override {
      return sim_.launchedAsLoginItem(argc, argv);
    }
    std::uint64_t modifierFlags() override { return sim_.modifierFlags(); }
    std::optional<platform::DefaultValue> storedDefault(const std::string& key) override {
      return sim_.storedDefault(key);
    }
    platform::NotificationId show(const platform::UserNotification& content, double expiry,
                                  std::function<void(platform::UserAnswer)> answered) override {
      return sim_.show(content, expiry, std::move(answered));
    }
    void withdraw(std::optional<platform::NotificationId> which) override {
      ++withdrawnAll;
      sim_.withdraw(which);
    }
    bool quitted() const { return sim_.terminated(); }
    int withdrawnAll = 0;

   private:
    sim::SimDesktop sim_;
  };
  sim::Scenario scenario;
  sim::Trace trace;
  auto backend = std::make_shared<StoppedAtOnce>(scenario, trace);
  ScopedComposition installed(
      Composition::ofDesktop(std::make_shared<platform::Desktop>(backend, desktopRules())));
  EXPECT_EQ(applicationMain(0, nullptr), 143);
  EXPECT_TRUE(backend->quitted());
  EXPECT_EQ(backend->withdrawnAll, 2) << "at launch, as always, and at the stop";
}

TEST(HostModel, ExactTextOrEmptyWhenUnreadableOrTooLong) {
  EXPECT_EQ(hostModelOf("MacPro5,1"), "MacPro5,1");
  EXPECT_EQ(hostModelOf(std::nullopt), "");
  EXPECT_EQ(hostModelOf(std::string(127, 'M')), std::string(127, 'M')) << "127 + NUL fits 128";
  EXPECT_EQ(hostModelOf(std::string(128, 'M')), "") << "does not fit";
}

TEST(FanProbe, CountsFailuresAsZeroAndAlwaysCloses) {
  {
    testing::EmulatedSMC smc(
        R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": ["1770", "0FA4"]}]})", false);
    EXPECT_EQ(probeFanSpeed(), 1500);
    EXPECT_FALSE(SMCAccess::closeConnection()) << "the probe closed it";
    EXPECT_EQ(probeFanSpeed(), 1001);
  }
  {
    testing::EmulatedSMC smc(
        R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "1770", "result": 1}]})", false);
    EXPECT_EQ(probeFanSpeed(), 0);
    EXPECT_FALSE(SMCAccess::closeConnection()) << "closed on the failure path too";
  }
  ScopedComposition none(Composition::ofSmc(nullptr));
  EXPECT_EQ(probeFanSpeed(), 0);
}

}  // namespace
}  // namespace ventra::app
