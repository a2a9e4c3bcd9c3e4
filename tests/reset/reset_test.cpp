// Every road of the reset on a simulated stuck tower: an emulated SMC whose fan 0 answers GPU
// load, a fake RX 580 whose products take four seconds each, all on a virtual clock, so that a
// reset of minutes takes a moment. Each road checks how it ended, its figures, and that no load
// was left behind; none writes to the SMC.
#include "reset/reset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "sim/machine_under_load.h"
#include "sim/sim_desktop.h"
#include "smc/param_struct.h"
#include "smc/platform/emulator/profile.h"

namespace ventra {
namespace {
using reset::Phase;
using reset::Result;

constexpr std::int64_t kSize = 64;
constexpr double kSecondsPerProduct = 4;

class Recorder final : public reset::ResetObserver {
 public:
  void phaseStarted(Phase phase, double t) override { phases.emplace_back(phase, t); }
  void sampled(const reset::Sample& sample) override {
    samples.push_back(sample);
    if (interruptAt && sample.t >= *interruptAt) interruption = 2;
    // Stopped right after this sample (SIGSTOP, a suspended machine): the clock runs on.
    if (stopAt && sample.t >= stopAt->first) {
      clock->advance(stopAt->second);
      stopAt.reset();
    }
  }
  std::vector<std::pair<Phase, double>> phases;
  std::vector<reset::Sample> samples;
  std::optional<double> interruptAt;
  std::optional<std::pair<double, double>> stopAt;  // when, and for how long
  sim::VirtualClock* clock = nullptr;
  std::atomic<int> interruption{0};
};

// fpe2 bytes of a speed, as a profile writes them.
std::string fpe2(std::int64_t rpm) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(rpm * 4));
  return text;
}

class ResetRoads : public ::testing::Test {
 protected:
  reset::Outcome run() {
    sim::VirtualClock clock;
    recorder.clock = &clock;
    auto card = sim::simulatedCard(clock, 2.0 * kSize * kSize * kSize / kSecondsPerProduct);
    card.submitsBeforeFailure = submitsBeforeFailure;
    if (gpuCelsius)
      card.temperature = [&]() -> std::optional<gpu::platform::DeviceTemperature> {
        return gpu::platform::DeviceTemperature{gpuCelsius(clock.now()), 94.0, std::nullopt};
      };
    gpu = std::make_shared<gpu::fake::FakeGPU>(card);
    auto machine = sim::machineUnderLoad(profile(), gpu, [&] { return clock.now(); });
    scenario.hostModel = hostModel;
    machine.composition.desktop = sim::simulatedDesktop(scenario, trace);
    ScopedComposition installed(machine.composition);
    options.matrixSize = kSize;
    auto outcome = reset::runReset(options, clock, recorder, recorder.interruption);
    finishedAt = clock.now();
    for (const auto& request : machine.emulator->history())
      if (request.data8 == rawValue(SMCParamStruct::Selector::kSMCWriteKey))
        ADD_FAILURE() << "the reset wrote " << fourCharCodeToString(request.key);
    return outcome;
  }

  // Fan 0 answering load as `fan` says, or, where `readings` are given, reading them one after
  // another (the last repeating) whatever the load.
  smc::emulator::Profile profile() const {
    nlohmann::json speeds = nlohmann::json::array();
    for (auto rpm : readings) speeds.push_back(fpe2(rpm));
    nlohmann::json document = {{"keys",
                                {{{"key", "F0Ac"},
                                  {"type", "fpe2"},
                                  {"bytes", readings.empty() ? nlohmann::json("0EE0") : speeds}}}}};
    if (!readings.empty())
      document["keys"].push_back({{"key", "F0Mx"}, {"type", "fpe2"}, {"bytes", fpe2(4500)}});
    else
      document["fanUnderLoad"] = {{"stuckRpm", fan.stuckRpm},
                                  {"loadSecondsToRise", fan.loadSecondsToRise},
                                  {"peakRpm", fan.peakRpm},
                                  {"fallRpmPerSecond", fan.fallRpmPerSecond},
                                  {"idleRpm", fan.idleRpm}};
    if (readings.empty() && fan.peakSeconds)
      document["fanUnderLoad"]["peakSeconds"] = *fan.peakSeconds;
    if (opensBeforeFailure) document["opensBeforeFailure"] = *opensBeforeFailure;
    return smc::emulator::parseProfile(document, "tower.json");
  }

  // The load stopped: nothing the fake GPU handed out is alive, and its last word was a wait.
  void expectNoLoadLeft() {
    EXPECT_EQ(gpu->liveObjects(), 0);
    const auto& calls = gpu->calls();
    if (!calls.empty() && calls.back().starts_with("submit") && !calls.back().ends_with("null"))
      ADD_FAILURE() << "the last product was never waited for";
  }
  std::size_t submissions() const {
    return static_cast<std::size_t>(
        std::count_if(gpu->calls().begin(), gpu->calls().end(),
                      [](const std::string& call) { return call.starts_with("submit"); }));
  }

  smc::emulator::FanUnderLoadProfile fan{0, 1500, 45, 2086, 40, 950, std::nullopt};
  std::vector<std::int64_t> readings;
  std::string hostModel = "MacPro5,1";
  std::optional<std::uint32_t> opensBeforeFailure;
  std::optional<int> submitsBeforeFailure;
  std::function<double(double)> gpuCelsius;
  reset::ResetOptions options;
  Recorder recorder;
  sim::Scenario scenario;
  sim::Trace trace;
  std::shared_ptr<gpu::fake::FakeGPU> gpu;
  double finishedAt = 0;
};

// Fan 0 spikes after 45 s of load: the load stops at the sample that sees it, and the fan falls
// 40 rpm a second until three samples in a row are at 1000 rpm or below.
TEST_F(ResetRoads, ItWorks) {
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::settled);
  EXPECT_EQ(outcome.startRpm, 1500);
  EXPECT_EQ(outcome.peakRpm, 2086);
  EXPECT_LE(outcome.lastRpm.value_or(9999), 1000);
  EXPECT_DOUBLE_EQ(outcome.loadSeconds, 45);
  EXPECT_EQ(outcome.products, 11) << "the twelfth was stopped at 45 s";
  EXPECT_DOUBLE_EQ(outcome.settleSeconds, 30) << "966 rpm at 28 s, then two more";
  ASSERT_EQ(recorder.phases.size(), 4u);
  EXPECT_EQ(recorder.phases[1], std::pair(Phase::load, 0.0));
  EXPECT_EQ(recorder.phases[2], std::pair(Phase::settle, 45.0));
  EXPECT_EQ(recorder.samples.size(), 1u + 45 + 30) << "one a second, and one at the start";
  EXPECT_EQ(submissions(), 12u);
  EXPECT_NE(std::find(gpu->calls().begin(), gpu->calls().end(), "stop(work#12)"),
            gpu->calls().end());
  expectNoLoadLeft();
}

TEST_F(ResetRoads, TheFanNeverRisesAndTheLoadEndsAtItsLimit) {
  fan.loadSecondsToRise = 1000;
  options.maxLoadSeconds = 60;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::neverRose);
  EXPECT_DOUBLE_EQ(outcome.loadSeconds, 60);
  EXPECT_EQ(outcome.products, 15);
  EXPECT_EQ(outcome.peakRpm, 1500);
  EXPECT_FALSE(outcome.safety);
  EXPECT_DOUBLE_EQ(finishedAt, 60) << "no settling after a load that did nothing";
  expectNoLoadLeft();
}

TEST_F(ResetRoads, TheFanRisesAndStaysHigh) {
  fan.fallRpmPerSecond = 0;
  options.settleSeconds = 20;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::didNotSettle);
  EXPECT_EQ(outcome.peakRpm, 2086);
  EXPECT_EQ(outcome.lastRpm, 2086);
  EXPECT_DOUBLE_EQ(outcome.settleSeconds, 20);
  expectNoLoadLeft();
}

// The check opens the SMC twice, the fan's maximum once and each sample once; the tenth open is
// refused.
TEST_F(ResetRoads, FanZeroBecomesUnreadableHalfWay) {
  opensBeforeFailure = 9;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::fanUnreadable);
  ASSERT_TRUE(outcome.fanError);
  EXPECT_EQ(outcome.fanError->kind(), SMCAccess::SMCError::Kind::failedToOpen);
  EXPECT_NE(outcome.problem.value_or("").find("fan 0 could not be read"), std::string::npos);
  EXPECT_DOUBLE_EQ(finishedAt, 6) << "the sample at 6 s failed";
  EXPECT_FALSE(recorder.samples.back().fanRpm);
  expectNoLoadLeft();
}

TEST_F(ResetRoads, TheGpuFailsHalfWay) {
  submitsBeforeFailure = 3;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::gpuFailed);
  EXPECT_EQ(outcome.problem, "the GPU failed: the device took no work");
  EXPECT_EQ(outcome.products, 3);
  EXPECT_DOUBLE_EQ(outcome.loadSeconds, 12);
  expectNoLoadLeft();
}

TEST_F(ResetRoads, AnInterruptionEndsTheLoadAtOnce) {
  recorder.interruptAt = 20.0;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::interrupted);
  EXPECT_EQ(outcome.interruption, 2);
  EXPECT_DOUBLE_EQ(finishedAt, 20) << "the product in flight stopped, not finished";
  EXPECT_EQ(outcome.products, 5);
  EXPECT_EQ(outcome.startRpm, 1500);
  expectNoLoadLeft();
}

TEST_F(ResetRoads, AnInterruptionWhileSettlingEndsTheWait) {
  recorder.interruptAt = 50.0;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::interrupted);
  EXPECT_DOUBLE_EQ(finishedAt, 50);
  EXPECT_EQ(outcome.peakRpm, 2086) << "what was reached";
}

TEST_F(ResetRoads, AFanAlreadyNormalHasNothingToReset) {
  fan.stuckRpm = 952;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::nothingToReset);
  EXPECT_EQ(outcome.lastRpm, 952);
  EXPECT_EQ(submissions(), 0u);
  EXPECT_EQ(outcome.check.failed, app::Eligibility::Test::secondProbe);
}

// An ineligible host does nothing, unless forced: then only the GPU and a readable fan count.
TEST_F(ResetRoads, AnIneligibleHostIsLeftAloneUnlessForced) {
  hostModel = "MacPro6,1";
  auto refused = run();
  EXPECT_EQ(refused.result, Result::notEligible);
  EXPECT_EQ(refused.check.failed, app::Eligibility::Test::hostModel);
  EXPECT_EQ(submissions(), 0u);
  options.force = true;
  fan.stuckRpm = 900;  // a normal fan on other hardware: forced, the load runs anyway
  fan.peakRpm = 1300;
  auto forced = run();
  EXPECT_EQ(forced.result, Result::settled);
  EXPECT_EQ(forced.startRpm, 900);
  expectNoLoadLeft();
}

TEST_F(ResetRoads, ForcedTheFanMustStillBeReadable) {
  options.force = true;
  opensBeforeFailure = 1;  // the first probe reads, the second cannot open
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::fanUnreadable);
  EXPECT_EQ(submissions(), 0u);
}

// The card at 60 °C warming a degree a second against a 94 °C limit: the load stops at 89 °C.
TEST_F(ResetRoads, TheLoadStopsFiveDegreesBelowTheCardsLimit) {
  gpuCelsius = [](double t) { return 60.0 + t; };
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::neverRose);
  ASSERT_TRUE(outcome.safety);
  EXPECT_EQ(outcome.safety->celsius, 89.0);
  EXPECT_EQ(outcome.safety->criticalCelsius, 94.0);
  EXPECT_DOUBLE_EQ(outcome.loadSeconds, 29);
  ASSERT_TRUE(recorder.samples.back().gpu);
  EXPECT_EQ(recorder.samples.back().gpu->celsius, 89.0);
  expectNoLoadLeft();
}

// The verdict is where the fan ends. This fan spikes for half a second at 44.2 s of load and is
// back at idle well before the next sample: three samples at 950 rpm while the card works are a
// reset that worked, not a load that goes on to its limit and a "did not rise".
TEST_F(ResetRoads, ASpikeBetweenTwoSamplesStillEndsInAResetThatWorked) {
  fan.loadSecondsToRise = 44.2;
  fan.peakSeconds = 0.5;
  fan.fallRpmPerSecond = 2000;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::settled);
  EXPECT_FALSE(outcome.roseInASample);
  EXPECT_EQ(outcome.peakRpm, 1500) << "the spike was never read";
  EXPECT_EQ(outcome.lastRpm, 950);
  EXPECT_DOUBLE_EQ(outcome.loadSeconds, 48) << "46, 47 and 48 s read 950 rpm";
  EXPECT_EQ(recorder.phases.size(), 3u) << "check, load, done: no settle phase was needed";
  expectNoLoadLeft();
}

// 0 rpm is no reading: a fan that falls to 0 after its spike has stopped, or its tachometer
// gives nothing. That is not a fan that settled.
TEST_F(ResetRoads, AFanThatReadsZeroHasNotSettled) {
  fan.idleRpm = 0;
  fan.fallRpmPerSecond = 1000;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::fanUnreadable);
  EXPECT_EQ(outcome.lastReadings, (std::vector<std::int64_t>{0, 0, 0}));
  EXPECT_NE(outcome.problem.value_or("").find("0 rpm is a stopped fan"), std::string::npos)
      << outcome.problem.value_or("");
  EXPECT_EQ(outcome.lastRpm, 86) << "the last reading that counts";
  fan.stuckRpm = 0;  // before any load: the app's check fails it, and forced nothing is loaded
  EXPECT_EQ(run().result, Result::notEligible);
  options.force = true;
  auto atTheCheck = run();
  EXPECT_EQ(atTheCheck.result, Result::fanUnreadable);
  EXPECT_EQ(atTheCheck.endedIn, Phase::check);
  EXPECT_EQ(submissions(), 0u);
}

// One reading above the fan's maximum (4500 rpm) is a glitch: it neither ends the load nor
// becomes the peak. Three in a row are a fan that cannot be read.
TEST_F(ResetRoads, AnImpossibleReadingIsAGlitchAndNoAnswer) {
  readings = {1500, 1500, 1500, 1500, 16383, 1500};
  options.maxLoadSeconds = 10;
  auto glitch = run();
  EXPECT_EQ(glitch.result, Result::neverRose);
  EXPECT_DOUBLE_EQ(glitch.loadSeconds, 10) << "the glitch at 2 s did not end the load";
  EXPECT_EQ(glitch.peakRpm, 1500);
  EXPECT_EQ(glitch.maxRpm, 4500);
  EXPECT_EQ(glitch.ignoredReadings, 1);
  EXPECT_EQ(recorder.samples[2].reading, reset::Reading::impossible);
  readings = {1500, 1500, 1500, 1500, 16383};
  auto broken = run();
  EXPECT_EQ(broken.result, Result::fanUnreadable);
  EXPECT_NE(broken.problem.value_or("").find("16383, 16383, 16383 rpm"), std::string::npos)
      << broken.problem.value_or("");
  EXPECT_NE(broken.problem.value_or("").find("its maximum of 4500 rpm"), std::string::npos);
  expectNoLoadLeft();
}

TEST_F(ResetRoads, ARiseTheFanCannotMakeIsRefusedBeforeAnyLoad) {
  readings = {1500};
  options.riseRpm = 3001;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::riseOutOfReach);
  EXPECT_EQ(outcome.maxRpm, 4500);
  EXPECT_EQ(submissions(), 0u);
  options.riseRpm = 3000;
  options.maxLoadSeconds = 2;
  EXPECT_EQ(run().result, Result::neverRose) << "1500 + 3000 is its maximum: in reach";
}

// Stopped for 200 s while settling (Ctrl-Z, then fg): the fan is judged by samples taken since,
// and the stop counts towards no limit. Before, the first sample after it ran past --settle and
// judged "did not settle" with the fan at 950 rpm.
TEST_F(ResetRoads, AStopIsNotCountedAndTheFanIsSampledBeforeItIsJudged) {
  recorder.stopAt = std::pair(50.0, 200.0);
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::settled);
  EXPECT_NEAR(outcome.stoppedSeconds, 200, 1) << "all but a sample's interval";
  EXPECT_LE(outcome.settleSeconds, 10) << "5 s before the stop, 3 samples after it";
  EXPECT_EQ(outcome.lastReadings, (std::vector<std::int64_t>{950, 950, 950}));
  recorder.stopAt = std::pair(10.0, 500.0);  // during a load that never makes the fan rise
  fan.loadSecondsToRise = 1000;
  options.maxLoadSeconds = 60;
  auto load = run();
  EXPECT_EQ(load.result, Result::neverRose);
  EXPECT_DOUBLE_EQ(load.loadSeconds, 60) << "the load's limit counts the time it ran";
  EXPECT_NEAR(load.stoppedSeconds, 500, 1);
  expectNoLoadLeft();
}

}  // namespace
}  // namespace ventra
