#include "reset/reset.h"

#include <algorithm>
#include <memory>

#include "gpu/gpu_workload.h"
#include "gpu/platform/metal.h"

namespace ventra::reset {
namespace pf = gpu::platform;
using Test = app::Eligibility::Test;

namespace {

// Keeps the step at which the workload could not be made.
class GaveUpAt final : public GPULoadObserver {
 public:
  void gaveUp(const char* step) override { step_ = step; }
  std::string step() const { return step_; }

 private:
  std::string step_ = "?";
};

// How long one wait for the GPU lasts at most: an interruption is seen this soon, and the block
// of rows in flight is the last one to run.
constexpr double kLongestWaitSeconds = 0.1;

// What a wait for a product led to; `waiting`: nothing yet.
enum class Turn { waiting, productDone, fanAnswered, timeUp, tooHot, failed, interrupted };

class Run {
 public:
  Run(const ResetOptions& options, Clock& clock, ResetObserver& observer,
      const std::atomic<int>& interruption)
      : options_(options), clock_(clock), observer_(observer), interruption_(interruption) {}

  Outcome go() {
    start_ = clock_.now();
    if (checkFirst() && load()) settle();
    outcome_.seconds = clock_.now() - start_;
    enter(Phase::done);
    return outcome_;
  }

 private:
  bool checkFirst();
  bool load();
  bool loadUntilTheFanAnswers(GPUWorkload& workload);
  Turn drive(pf::CommandBuffer& product, double loadEnd);
  Turn waitOnce(pf::CommandBuffer& product, double committed, double loadEnd);
  std::optional<Turn> afterSample();
  void settle();
  bool sample();

  void enter(Phase phase) {
    phase_ = phase;
    observer_.phaseStarted(phase, clock_.now() - start_);
  }
  bool finishWith(Result result, std::optional<std::string> problem = std::nullopt) {
    outcome_.result = result;
    outcome_.endedIn = phase_;
    if (problem) outcome_.problem = std::move(problem);
    return false;
  }
  bool interrupted() {
    if (interruption_ == 0) return false;
    outcome_.interruption = interruption_;
    finishWith(Result::interrupted);
    return true;
  }
  // Ends what the product has left after the block in flight, and waits for that block; nothing
  // for a product already done.
  static void stop(pf::CommandBuffer& product) {
    product.stop();
    product.waitUntilCompleted();
  }

  const ResetOptions& options_;
  Clock& clock_;
  ResetObserver& observer_;
  const std::atomic<int>& interruption_;
  Outcome outcome_;
  Phase phase_ = Phase::check;
  double start_ = 0;
  double nextSample_ = 0;
  std::shared_ptr<pf::Device> gpu_;  // whose temperature each sample reads
  std::optional<pf::DeviceTemperature> temperature_;
};

// The app's own check, every test asked. Forced, only the GPU's presence and a readable fan 0
// still count; otherwise a failing test ends the reset, and a fan at or below the app's limit
// has nothing to reset.
bool Run::checkFirst() {
  enter(Phase::check);
  outcome_.check = app::checkEveryTest();
  observer_.checked(outcome_.check);
  const app::Eligibility& found = outcome_.check;
  outcome_.lastRpm = found.secondProbe;
  if (!app::passes(Test::gpuPresent, found)) return finishWith(Result::notEligible);
  if (!options_.force && found.failed && *found.failed != Test::secondProbe)
    return finishWith(Result::notEligible);
  for (const auto& failure : {found.firstProbeFailure, found.secondProbeFailure})
    if (failure) {
      outcome_.fanError = failure;
      return finishWith(Result::fanUnreadable,
                        std::string("fan 0 could not be read: ") + failure->what());
    }
  if (!options_.force && !app::passes(Test::secondProbe, found))
    return finishWith(Result::nothingToReset);
  return !interrupted();
}

bool Run::load() {
  enter(Phase::load);
  gpu_ = pf::MTLCreateSystemDefaultDevice();
  GaveUpAt gaveUp;
  GPUWorkload workload(options_.matrixSize, gaveUp);
  if (!workload.ready())
    return finishWith(Result::gpuFailed, "the load could not start: no " + gaveUp.step());
  if (!sample()) return false;
  outcome_.startRpm = outcome_.lastRpm;
  const double loadStart = clock_.now();
  const bool answered = loadUntilTheFanAnswers(workload);
  outcome_.loadSeconds = clock_.now() - loadStart;
  return answered;
}

// One product after another until the fan answers; false where the load ended otherwise.
bool Run::loadUntilTheFanAnswers(GPUWorkload& workload) {
  const double loadEnd = clock_.now() + options_.maxLoadSeconds;
  for (;;) {
    auto product = workload.encode(1);
    if (!product) return finishWith(Result::gpuFailed, "the GPU gave no command buffer");
    product->commit();
    switch (drive(*product, loadEnd)) {
      case Turn::waiting:
      case Turn::productDone:
        continue;
      case Turn::fanAnswered:
        return true;
      case Turn::tooHot:
        outcome_.safety = SafetyStop{temperature_->celsius, *temperature_->criticalCelsius};
        return finishWith(Result::neverRose);
      case Turn::timeUp:
        return finishWith(Result::neverRose);
      case Turn::failed:
      case Turn::interrupted:
        return false;
    }
  }
}

// Waits for the product, sampling on time; stops it where a sample, the time or an
// interruption ends the load.
Turn Run::drive(pf::CommandBuffer& product, double loadEnd) {
  const double committed = clock_.now();
  Turn turn = Turn::waiting;
  while (turn == Turn::waiting) turn = waitOnce(product, committed, loadEnd);
  if (turn != Turn::productDone) stop(product);
  return turn;
}

Turn Run::waitOnce(pf::CommandBuffer& product, double committed, double loadEnd) {
  if (interrupted()) return Turn::interrupted;
  const double deadline = std::min({nextSample_, loadEnd, clock_.now() + kLongestWaitSeconds});
  const bool done = product.waitUntilCompleted(std::max(0.0, deadline - clock_.now()));
  if (done && product.error()) {
    finishWith(Result::gpuFailed, "the GPU failed: " + *product.error());
    return Turn::failed;
  }
  if (done) ++outcome_.products;
  // A device that takes no time at all (a fake without a rate) still lets time pass.
  if (done && clock_.now() <= committed) clock_.sleepUntil(nextSample_, interruption_);
  if (clock_.now() >= nextSample_)
    if (auto turn = afterSample()) return *turn;
  if (clock_.now() >= loadEnd) return Turn::timeUp;
  return done ? Turn::productDone : Turn::waiting;
}

// A sample during the load, and whether it ends the load.
std::optional<Turn> Run::afterSample() {
  if (!sample()) return Turn::failed;
  if (*outcome_.lastRpm >= *outcome_.startRpm + options_.riseRpm) return Turn::fanAnswered;
  if (temperature_ && temperature_->criticalCelsius &&
      temperature_->celsius >= *temperature_->criticalCelsius - options_.safetyMarginCelsius)
    return Turn::tooHot;
  return std::nullopt;
}

void Run::settle() {
  enter(Phase::settle);
  const double settleStart = clock_.now();
  for (int inARow = 0;;) {
    clock_.sleepUntil(nextSample_, interruption_);
    if (interrupted() || !sample()) return;
    outcome_.settleSeconds = clock_.now() - settleStart;
    inARow = *outcome_.lastRpm <= app::kFanSpeedLimit ? inARow + 1 : 0;
    if (inARow >= options_.settledSamples) {
      finishWith(Result::settled);
      return;
    }
    if (outcome_.settleSeconds >= options_.settleSeconds) {
      finishWith(Result::didNotSettle);
      return;
    }
  }
}

// Reads fan 0 and the card's temperature now and reports them; false where the fan could not be
// read (the outcome then says why).
bool Run::sample() {
  const double now = clock_.now();
  nextSample_ = std::max(nextSample_ + options_.sampleSeconds, now + options_.sampleSeconds / 2);
  std::optional<SMCAccess::SMCError> failure;
  const std::int64_t rpm = app::probeFanSpeed(failure);
  temperature_ = gpu_ ? gpu_->temperature() : std::nullopt;
  Sample taken{now - start_, phase_, failure ? std::nullopt : std::optional(rpm), temperature_,
               outcome_.products};
  observer_.sampled(taken);
  if (failure) {
    outcome_.fanError = failure;
    return finishWith(Result::fanUnreadable,
                      std::string("fan 0 could not be read: ") + failure->what());
  }
  outcome_.lastRpm = rpm;
  outcome_.peakRpm = std::max(outcome_.peakRpm.value_or(rpm), rpm);
  return true;
}

}  // namespace

const char* phaseName(Phase phase) {
  switch (phase) {
    case Phase::check:
      return "check";
    case Phase::load:
      return "load";
    case Phase::settle:
      return "settle";
    case Phase::done:
      return "done";
  }
  return "?";
}

const char* resultName(Result result) {
  switch (result) {
    case Result::settled:
      return "settled";
    case Result::nothingToReset:
      return "nothingToReset";
    case Result::notEligible:
      return "notEligible";
    case Result::neverRose:
      return "neverRose";
    case Result::didNotSettle:
      return "didNotSettle";
    case Result::fanUnreadable:
      return "fanUnreadable";
    case Result::gpuFailed:
      return "gpuFailed";
    case Result::interrupted:
      return "interrupted";
  }
  return "?";
}

Outcome runReset(const ResetOptions& options, Clock& clock, ResetObserver& observer,
                 const std::atomic<int>& interruption) {
  return Run(options, clock, observer, interruption).go();
}

}  // namespace ventra::reset
