// The stuck fan of the emulated machine: stuck until the GPU has worked long enough in total,
// at its peak while the load goes on, then falling to its idle speed once the load ends; and the
// emulator answering its speed key with the model's speed on the clock it was given.
#include "smc/platform/emulator/fan_under_load.h"

#include <gtest/gtest.h>

#include "smc/platform/emulator/emulator.h"
#include "smc/platform/emulator/profile.h"

namespace ventra {
namespace {
using smc::emulator::FanUnderLoad;
using smc::emulator::FanUnderLoadProfile;
using literals::operator""_fcc;

FanUnderLoadProfile stuck(double fallRpmPerSecond = 50) {
  return {0, 1500, 10, 2086, fallRpmPerSecond, 950, std::nullopt};
}

TEST(FanUnderLoad, RisesOnceTheLoadHasAddedUpAndFallsWhenItEnds) {
  FanUnderLoad fan(stuck());
  EXPECT_EQ(fan.rpmAt(100), 1500) << "no load yet";
  fan.loadStarted(0);
  fan.loadStopped(4);
  fan.loadStarted(6);
  EXPECT_EQ(fan.rpmAt(11.9), 1500) << "9.9 s of load in all";
  EXPECT_EQ(fan.rpmAt(12), 2086) << "10 s";
  EXPECT_EQ(fan.rpmAt(19), 2086) << "the load goes on";
  fan.loadStopped(20);
  EXPECT_EQ(fan.rpmAt(11), 1500) << "the past stays as it was";
  EXPECT_EQ(fan.rpmAt(20), 2086);
  EXPECT_EQ(fan.rpmAt(30), 1586) << "50 rpm a second since the load ended";
  EXPECT_EQ(fan.rpmAt(60), 950) << "and no lower than idle";
  fan.loadStarted(70);
  EXPECT_EQ(fan.rpmAt(80), 950) << "normal until the next cold boot";
}

TEST(FanUnderLoad, BackToBackRunsAreOneAndAFanThatNeverFallsStaysHigh) {
  FanUnderLoad fan(stuck(0));
  for (double t = 0; t < 30; t += 3) {
    fan.loadStarted(t);
    fan.loadStopped(t + 3);
  }
  EXPECT_EQ(fan.rpmAt(29), 2086) << "no gap between rounds: the load never ended";
  EXPECT_EQ(fan.rpmAt(500), 2086) << "ended at 30, and this fan never falls";
  FanUnderLoad never(stuck());
  never.loadStarted(0);
  never.loadStopped(9.5);
  EXPECT_EQ(never.rpmAt(1000), 1500) << "not enough load";
  EXPECT_EQ(never.speedKey(), "F0Ac"_fcc);
}

// A real card's load comes as products milliseconds apart: the fan feels one run of load, as it
// does the simulated card's, however the work is cut. A fan may also fall back from its spike
// while the load still goes on (peakSeconds).
TEST(FanUnderLoad, ProductsMomentsApartAreOneRunAndAPeakMayEndUnderLoad) {
  FanUnderLoad fan(stuck());
  for (double t = 0; t < 30; t += 0.01) {
    fan.loadStarted(t);
    fan.loadStopped(t + 0.009);
  }
  EXPECT_EQ(fan.rpmAt(25), 2086) << "still loaded: the peak holds";
  EXPECT_NEAR(fan.rpmAt(40), 2086 - 50 * 10, 1) << "the fall begins where the whole run ended";
  auto brief = stuck(1000);
  brief.peakSeconds = 0.5;
  FanUnderLoad spike(brief);
  spike.loadStarted(0);
  EXPECT_EQ(spike.rpmAt(10.25), 2086) << "at its peak for half a second";
  EXPECT_EQ(spike.rpmAt(11), 1586) << "then falling although the load goes on";
  EXPECT_EQ(spike.rpmAt(20), 950);
}

TEST(FanUnderLoad, TheEmulatorAnswersTheSpeedKeyOnItsClock) {
  auto profile = smc::emulator::parseProfileText(R"({
    "keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "0EE0"},
             {"key": "F1Ac", "type": "fpe2", "bytes": "0A28"}],
    "fanUnderLoad": {"fan": 0, "stuckRpm": 1500, "loadSecondsToRise": 2, "peakRpm": 2086,
                     "fallRpmPerSecond": 100, "idleRpm": 950}})",
                                                 "stuck.json");
  auto smc = std::make_shared<smc::emulator::SMCEmulator>(profile);
  double now = 0;
  smc->useClock([&] { return now; });
  auto rpm = [&](FourCharCode key) {
    auto bytes = *smc->peek(key);
    return intFromFPE2({bytes[0], bytes[1]});
  };
  EXPECT_EQ(rpm("F0Ac"_fcc), 1500) << "the model, not the key's bytes";
  smc->loadStarted();
  now = 3;
  EXPECT_EQ(rpm("F0Ac"_fcc), 2086);
  smc->loadStopped();
  now = 5;
  EXPECT_EQ(rpm("F0Ac"_fcc), 1886);
  EXPECT_EQ(rpm("F1Ac"_fcc), 650) << "other fans keep their bytes";
}

TEST(FanUnderLoad, AProfileDescribesItOrSaysWhatIsWrong) {
  auto error = [](const std::string& fanUnderLoad) -> std::string {
    try {
      smc::emulator::parseProfileText(
          R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "0EE0"},
                       {"key": "F1Ac", "type": "ui16", "bytes": "0EE0"}],
              "fanUnderLoad": )" +
              fanUnderLoad + "}",
          "p.json");
    } catch (const smc::emulator::ProfileError& e) {
      return e.what();
    }
    return "(accepted)";
  };
  const std::string whole =
      R"("stuckRpm": 1500, "loadSecondsToRise": 45, "peakRpm": 2086, "fallRpmPerSecond": 40,
         "idleRpm": 950)";
  EXPECT_EQ(error("{" + whole + "}"), "(accepted)");
  EXPECT_EQ(error(R"({"fan": 1, )" + whole + "}"),
            "p.json: fanUnderLoad: fan 1 needs a key \"F1Ac\" of type \"fpe2\" (2 bytes)");
  EXPECT_EQ(error(R"({"fan": 2, )" + whole + "}"),
            "p.json: fanUnderLoad: fan 2 needs a key \"F2Ac\" of type \"fpe2\" (2 bytes)");
  EXPECT_EQ(error(R"({"stuckRpm": 1500})"), "p.json: fanUnderLoad: missing \"loadSecondsToRise\"");
  EXPECT_EQ(error(R"({"stuckRpm": 99999, "loadSecondsToRise": 1, "peakRpm": 1,
                      "fallRpmPerSecond": 1, "idleRpm": 1})"),
            "p.json: fanUnderLoad: \"stuckRpm\" must be a number from 0 to 16383");
  EXPECT_EQ(error(R"({"stuckRpm": "fast", "loadSecondsToRise": 1, "peakRpm": 1,
                      "fallRpmPerSecond": 1, "idleRpm": 1})"),
            "p.json: fanUnderLoad: \"stuckRpm\" must be a number from 0 to 16383");
  EXPECT_EQ(error("{" + whole + R"(, "rise": 3})"), "p.json: fanUnderLoad: unknown field \"rise\"");
  EXPECT_EQ(error("[]"), "p.json: fanUnderLoad: must be an object");
}

}  // namespace
}  // namespace ventra
