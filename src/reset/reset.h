#pragma once

// A fan reset that proves itself. It checks the host as the app does, then runs the app's
// workload (its products, row blocks and host array) product after product while it samples
// fan 0 about once a second. The verdict is about where the fan ends, not about what a sample
// happened to catch: the load stops as soon as the fan has risen well above where it started
// (then the reset waits for it to settle at the app's limit or below), or as soon as the fan is
// back at that limit for a few samples in a row while the card still works (its spike came and
// went between two samples). A reading of 0 rpm, or one the fan cannot turn, is no reading: it
// never settles a fan and never ends the load alone. It writes no SMC key: the reset is load
// only. It keeps time by the clock it is given: real time on the machine, a simulation's in
// tests; a stretch in which it was stopped (SIGSTOP, a suspended machine) does not count.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/controller.h"
#include "gpu/platform/backend.h"
#include "reset/clock.h"

namespace ventra::reset {

struct ResetOptions {
  bool force = false;  // skip the host, GPU-identity and fan-speed tests (fan 0 is still read)
  std::int64_t riseRpm = 300;   // above the speed at the start: the fan has answered
  double maxLoadSeconds = 300;  // the load ends here if the fan has not answered
  double settleSeconds = 120;   // the fan must settle within this after the load
  std::int64_t matrixSize = app::kResetMatrixSize;
  double sampleSeconds = 1.0;
  int settledSamples = 3;          // in a row at or below the app's limit
  int noReadingSamples = 3;        // in a row of no reading: the fan cannot be read
  double safetyMarginCelsius = 5;  // the load stops this far below the card's critical limit
  // The run looks at its clock at least once a sample; a look later than a sample and this
  // follows a stop: the time between them counts towards neither --max-load nor --settle.
  double stoppedAfterSeconds = 5;
};

// The most an fpe2 speed key can hold, whole: a fan reading it reads all ones, not a speed.
inline constexpr std::int64_t kFpe2CeilingRpm = 16383;

enum class Phase { check, load, settle, done };
const char* phaseName(Phase phase);

// How a reading of fan 0 counts.
enum class Reading {
  counted,     // a speed the fan can turn at
  none,        // 0 rpm: a stopped fan or a tachometer that gives nothing
  impossible,  // above the fan's maximum (or all ones where the maximum is unknown)
  failed,      // the read itself failed
};

struct Sample {
  double t = 0;  // seconds since the reset started
  Phase phase = Phase::check;
  std::optional<std::int64_t> fanRpm;  // nothing where the read failed
  Reading reading = Reading::failed;
  std::optional<gpu::platform::DeviceTemperature> gpu;
  std::int64_t products = 0;  // finished so far
};

enum class Result {
  settled,         // the fan rose and settled: the reset worked
  nothingToReset,  // fan 0 already at or below the limit
  notEligible,     // a test of the app's check fails
  riseOutOfReach,  // the fan cannot rise as far as asked
  neverRose,       // the load ended (time, safety) before the fan answered or settled
  didNotSettle,    // the fan rose but stayed above the limit
  fanUnreadable,   // a read of fan 0 failed, or it kept giving no reading
  gpuFailed,       // the workload could not be made, or a product failed
  interrupted,     // asked to stop
};
const char* resultName(Result result);

struct SafetyStop {
  double celsius = 0;
  double criticalCelsius = 0;
};

struct Outcome {
  Result result = Result::notEligible;
  Phase endedIn = Phase::check;  // the phase the reset was in when it ended
  double seconds = 0;            // from the start to the end
  app::Eligibility check;
  // Not eligible: the test that stopped the reset (forced, only the GPU's presence can).
  std::optional<app::Eligibility::Test> refusedBy;
  std::optional<std::int64_t> startRpm, peakRpm, lastRpm;  // of the readings that count
  std::optional<std::int64_t> maxRpm;                      // the fan's own maximum, where read
  // Settled: whether a sample saw the fan rise `riseRpm` (else it came down while the card
  // worked, its spike between two samples).
  bool roseInASample = false;
  std::vector<std::int64_t> lastReadings;  // the last few, counted or not, oldest first
  int ignoredReadings = 0;                 // 0 rpm or impossible, over the whole run
  double loadSeconds = 0;                  // stopped time not counted
  double settleSeconds = 0;
  double stoppedSeconds = 0;  // the run was stopped this long in all (not counted anywhere)
  std::int64_t products = 0;
  std::optional<SafetyStop> safety;    // the load was stopped to spare the card
  std::optional<std::string> problem;  // what failed, in words: a read, the GPU
  std::optional<SMCAccess::SMCError> fanError;
  int interruption = 0;  // the value that asked the reset to stop
};

class ResetObserver {
 public:
  virtual ~ResetObserver() = default;
  virtual void checked(const app::Eligibility&) {}
  virtual void phaseStarted(Phase, double /*t*/) {}
  virtual void sampled(const Sample&) {}
};

// Runs the reset on the installed composition. `interruption` holding a value other than 0 ends
// it within one block of rows of the load, or at once while it waits; the value is kept in the
// outcome. Every GPU object is released before it returns.
Outcome runReset(const ResetOptions& options, Clock& clock, ResetObserver& observer,
                 const std::atomic<int>& interruption);

}  // namespace ventra::reset
