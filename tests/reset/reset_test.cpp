// Every road of the reset on a simulated stuck tower: an emulated SMC whose fan 0 answers GPU
// load, a fake RX 580 whose products take four seconds each, all on a virtual clock, so that a
// reset of minutes takes a moment. Each road checks how it ended, its figures, and that no load
// was left behind; none writes to the SMC.
#include "reset/reset.h"

#include <gtest/gtest.h>

#include <algorithm>
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
  }
  std::vector<std::pair<Phase, double>> phases;
  std::vector<reset::Sample> samples;
  std::optional<double> interruptAt;
  std::atomic<int> interruption{0};
};

class ResetRoads : public ::testing::Test {
 protected:
  reset::Outcome run() {
    sim::VirtualClock clock;
    auto card = sim::simulatedCard(clock, 2.0 * kSize * kSize * kSize / kSecondsPerProduct);
    card.submitsBeforeFailure = submitsBeforeFailure;
    if (gpuCelsius)
      card.temperature = [&]() -> std::optional<gpu::platform::DeviceTemperature> {
        return gpu::platform::DeviceTemperature{gpuCelsius(clock.now()), 94.0};
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

  smc::emulator::Profile profile() const {
    nlohmann::json document = {{"keys", {{{"key", "F0Ac"}, {"type", "fpe2"}, {"bytes", "0EE0"}}}},
                               {"fanUnderLoad",
                                {{"stuckRpm", fan.stuckRpm},
                                 {"loadSecondsToRise", fan.loadSecondsToRise},
                                 {"peakRpm", fan.peakRpm},
                                 {"fallRpmPerSecond", fan.fallRpmPerSecond},
                                 {"idleRpm", fan.idleRpm}}}};
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

  smc::emulator::FanUnderLoadProfile fan{0, 1500, 45, 2086, 40, 950};
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

// The check opens the SMC twice and the first sample once; the tenth open is refused.
TEST_F(ResetRoads, FanZeroBecomesUnreadableHalfWay) {
  opensBeforeFailure = 9;
  auto outcome = run();
  EXPECT_EQ(outcome.result, Result::fanUnreadable);
  ASSERT_TRUE(outcome.fanError);
  EXPECT_EQ(outcome.fanError->kind(), SMCAccess::SMCError::Kind::failedToOpen);
  EXPECT_NE(outcome.problem.value_or("").find("fan 0 could not be read"), std::string::npos);
  EXPECT_DOUBLE_EQ(finishedAt, 7) << "the sample at 7 s failed";
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

}  // namespace
}  // namespace ventra
