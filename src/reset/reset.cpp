#include "reset/reset.h"

#include <algorithm>
#include <memory>
#include <string>

#include "gpu/gpu_workload.h"
#include "gpu/platform/metal.h"
#include "sensors/fans.h"
#include "smc/smc_access.h"

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
enum class Turn {
  waiting,
  productDone,
  fanAnswered,  // it rose: the load stops and the fan is watched as it settles
  fanSettled,   // back at the limit while the card works: the reset worked
  timeUp,
  tooHot,
  failed,
  interrupted
};

// Fan 0's own maximum, where the SMC gives one; nothing otherwise (readings are then judged by
// what the key can hold).
std::optional<std::int64_t> fanZeroMaximum() {
  try {
    SMCAccess::openConnection();
  } catch (const SMCAccess::SMCError&) {
    return std::nullopt;  // the samples that follow say why the SMC cannot be reached
  }
  std::optional<std::int64_t> maximum;
  try {
    maximum = SMCAccess::fanMaxSpeed(0);
  } catch (const SMCAccess::SMCError&) {
    // A fan without a readable maximum is judged against the key's own range instead.
  }
  SMCAccess::closeConnection();
  if (maximum && *maximum <= 0) return std::nullopt;
  return maximum;
}

std::string rpmList(const std::vector<std::int64_t>& readings) {
  std::string text;
  for (auto rpm : readings) text += (text.empty() ? "" : ", ") + std::to_string(rpm);
  return text + " rpm";
}

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
  bool fanCanAnswer();
  bool load();
  bool loadUntilTheFanAnswers(GPUWorkload& workload);
  Turn drive(pf::CommandBuffer& product);
  Turn waitOnce(pf::CommandBuffer& product, double committed);
  std::optional<Turn> afterSample();
  void settle();
  bool sample();
  Reading judge(std::int64_t rpm) const;
  bool count(Reading reading, std::int64_t rpm);
  void look();
  std::string noReadingWords() const;

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
  // Seconds since `since`, less the time the run was stopped after `stoppedBefore` had been.
  double countedSince(double since, double stoppedBefore) const {
    return clock_.now() - since - (outcome_.stoppedSeconds - stoppedBefore);
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
  double loadEnd_ = 0;
  std::optional<double> lastLook_;
  int lowInARow_ = 0;                // counted readings at or below the app's limit
  int noReadingInARow_ = 0;          // readings that do not count
  bool lastCounted_ = false;         // whether the last reading counts
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
  outcome_.refusedBy = !app::passes(Test::gpuPresent, found) ? Test::gpuPresent : found.failed;
  if (outcome_.refusedBy == Test::gpuPresent) return finishWith(Result::notEligible);
  if (!options_.force && found.failed && *found.failed != Test::secondProbe)
    return finishWith(Result::notEligible);
  for (const auto& failure : {found.firstProbeFailure, found.secondProbeFailure})
    if (failure) {
      outcome_.fanError = failure;
      return finishWith(Result::fanUnreadable,
                        std::string("fan 0 could not be read: ") + failure->what());
    }
  return fanCanAnswer() && !interrupted();
}

// The probe's reading is one to start from, and the rise asked for is one the fan can make.
bool Run::fanCanAnswer() {
  const std::int64_t rpm = outcome_.check.secondProbe.value_or(0);
  outcome_.maxRpm = fanZeroMaximum();
  outcome_.lastReadings = {rpm};
  if (judge(rpm) != Reading::counted) {
    outcome_.lastRpm.reset();
    return finishWith(Result::fanUnreadable, noReadingWords());
  }
  if (!options_.force && !app::passes(Test::secondProbe, outcome_.check))
    return finishWith(Result::nothingToReset);
  if (outcome_.maxRpm && rpm + options_.riseRpm > *outcome_.maxRpm)
    return finishWith(Result::riseOutOfReach);
  return true;
}

bool Run::load() {
  enter(Phase::load);
  gpu_ = pf::MTLCreateSystemDefaultDevice();
  GaveUpAt gaveUp;
  GPUWorkload workload(options_.matrixSize, gaveUp);
  if (!workload.ready())
    return finishWith(Result::gpuFailed, "the load could not start: no " + gaveUp.step());
  if (interrupted() || !sample()) return false;
  // The check's reading where this one does not count: the check found it one that does.
  outcome_.startRpm = outcome_.lastRpm.value_or(*outcome_.check.secondProbe);
  const double loadStart = clock_.now(), stoppedBefore = outcome_.stoppedSeconds;
  const bool answered = loadUntilTheFanAnswers(workload);
  outcome_.loadSeconds = countedSince(loadStart, stoppedBefore);
  return answered;
}

// One product after another until the fan answers; false where the load ended otherwise.
bool Run::loadUntilTheFanAnswers(GPUWorkload& workload) {
  loadEnd_ = clock_.now() + options_.maxLoadSeconds;
  for (;;) {
    auto product = workload.encode(1);
    if (!product) return finishWith(Result::gpuFailed, "the GPU gave no command buffer");
    product->commit();
    switch (drive(*product)) {
      case Turn::waiting:
      case Turn::productDone:
        continue;
      case Turn::fanAnswered:
        return true;
      case Turn::fanSettled:
        return finishWith(Result::settled);
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
Turn Run::drive(pf::CommandBuffer& product) {
  const double committed = clock_.now();
  Turn turn = Turn::waiting;
  while (turn == Turn::waiting) turn = waitOnce(product, committed);
  if (turn != Turn::productDone) stop(product);
  return turn;
}

Turn Run::waitOnce(pf::CommandBuffer& product, double committed) {
  if (interrupted()) return Turn::interrupted;
  const double deadline = std::min({nextSample_, loadEnd_, clock_.now() + kLongestWaitSeconds});
  const bool done = product.waitUntilCompleted(std::max(0.0, deadline - clock_.now()));
  look();
  if (done && product.error()) {
    finishWith(Result::gpuFailed, "the GPU failed: " + *product.error());
    return Turn::failed;
  }
  if (done) ++outcome_.products;
  // A device that takes no time at all (a fake without a rate) still lets time pass.
  if (done && clock_.now() <= committed) clock_.sleepUntil(nextSample_, interruption_);
  if (clock_.now() >= nextSample_)
    if (auto turn = afterSample()) return *turn;
  look();
  if (clock_.now() >= loadEnd_) return Turn::timeUp;
  return done ? Turn::productDone : Turn::waiting;
}

// A sample during the load, and whether it ends the load.
std::optional<Turn> Run::afterSample() {
  if (!sample()) return Turn::failed;
  if (lastCounted_) {
    if (*outcome_.lastRpm >= *outcome_.startRpm + options_.riseRpm) {
      outcome_.roseInASample = true;
      return Turn::fanAnswered;
    }
    // A fan that was stuck above the limit and is back at it has been reset, spike seen or not.
    if (*outcome_.startRpm > app::kFanSpeedLimit && lowInARow_ >= options_.settledSamples)
      return Turn::fanSettled;
  }
  if (temperature_ && temperature_->criticalCelsius &&
      temperature_->celsius >= *temperature_->criticalCelsius - options_.safetyMarginCelsius)
    return Turn::tooHot;
  return std::nullopt;
}

void Run::settle() {
  enter(Phase::settle);
  const double settleStart = clock_.now(), stoppedBefore = outcome_.stoppedSeconds;
  lowInARow_ = 0;
  for (;;) {
    clock_.sleepUntil(nextSample_, interruption_);
    if (interrupted() || !sample()) return;
    look();
    outcome_.settleSeconds = countedSince(settleStart, stoppedBefore);
    if (lowInARow_ >= options_.settledSamples) {
      finishWith(Result::settled);
      return;
    }
    if (outcome_.settleSeconds >= options_.settleSeconds) {
      finishWith(Result::didNotSettle);
      return;
    }
  }
}

// Reads fan 0 and the card's temperature now and reports them; false where the reset ends
// because fan 0 cannot be read (the outcome then says why).
bool Run::sample() {
  look();
  const double now = clock_.now();
  nextSample_ = std::max(nextSample_ + options_.sampleSeconds, now + options_.sampleSeconds / 2);
  std::optional<SMCAccess::SMCError> failure;
  const std::int64_t rpm = app::probeFanSpeed(failure);
  temperature_ = gpu_ ? gpu_->temperature() : std::nullopt;
  const Reading reading = failure ? Reading::failed : judge(rpm);
  observer_.sampled({now - start_, phase_, failure ? std::nullopt : std::optional(rpm), reading,
                     temperature_, outcome_.products});
  if (failure) {
    outcome_.fanError = failure;
    return finishWith(Result::fanUnreadable,
                      std::string("fan 0 could not be read: ") + failure->what());
  }
  return count(reading, rpm);
}

Reading Run::judge(std::int64_t rpm) const {
  if (rpm <= 0) return Reading::none;
  if (rpm > outcome_.maxRpm.value_or(kFpe2CeilingRpm - 1)) return Reading::impossible;
  return Reading::counted;
}

// Keeps the reading's place in the run; false where too many in a row gave no reading.
bool Run::count(Reading reading, std::int64_t rpm) {
  auto& recent = outcome_.lastReadings;
  recent.push_back(rpm);
  const auto kept = static_cast<std::size_t>(std::max(options_.settledSamples, 1));
  if (recent.size() > kept) recent.erase(recent.begin(), recent.end() - kept);
  lastCounted_ = reading == Reading::counted;
  if (!lastCounted_) {
    ++outcome_.ignoredReadings;
    if (++noReadingInARow_ < options_.noReadingSamples) return true;
    return finishWith(Result::fanUnreadable, noReadingWords());
  }
  noReadingInARow_ = 0;
  outcome_.lastRpm = rpm;
  outcome_.peakRpm = std::max(outcome_.peakRpm.value_or(rpm), rpm);
  lowInARow_ = rpm <= app::kFanSpeedLimit ? lowInARow_ + 1 : 0;
  return true;
}

// The run looks at the clock at least once a sample. A look much later than that follows a
// stretch in which it was stopped (SIGSTOP, a suspended machine): the stretch counts towards no
// limit, and only samples taken since then settle the fan. Called before every judgement by
// time.
void Run::look() {
  const double now = clock_.now();
  const double expected = options_.sampleSeconds;
  if (lastLook_ && now - *lastLook_ > expected + options_.stoppedAfterSeconds) {
    const double stopped = now - *lastLook_ - expected;
    outcome_.stoppedSeconds += stopped;
    loadEnd_ += stopped;
    lowInARow_ = 0;
  }
  lastLook_ = now;
}

std::string Run::noReadingWords() const {
  const std::string maximum = outcome_.maxRpm
                                  ? "its maximum of " + std::to_string(*outcome_.maxRpm) + " rpm"
                                  : "what its key can hold";
  const auto& recent = outcome_.lastReadings;
  const bool one = recent.size() == 1;
  return std::string(one ? "it read " : "its last readings were ") + rpmList(recent) +
         ", which is no reading: 0 rpm is a stopped fan or a tachometer that gives nothing, and "
         "more than " +
         maximum + " is not a speed it can turn";
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
    case Result::riseOutOfReach:
      return "riseOutOfReach";
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
