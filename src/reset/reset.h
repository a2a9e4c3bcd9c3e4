#pragma once

// A fan reset that proves itself. It checks the host as the app does, then runs the app's
// workload (its products, row blocks and host array) product after product while it samples
// fan 0 about once a second, stops the load as soon as the fan has risen well above where it
// started, and waits for the fan to settle at the app's limit or below. It writes no SMC key:
// the reset is load only. It keeps time by the clock it is given: real time on the machine, a
// simulation's in tests.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

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
  double safetyMarginCelsius = 5;  // the load stops this far below the card's critical limit
};

enum class Phase { check, load, settle, done };
const char* phaseName(Phase phase);

struct Sample {
  double t = 0;  // seconds since the reset started
  Phase phase = Phase::check;
  std::optional<std::int64_t> fanRpm;  // nothing where the read failed
  std::optional<gpu::platform::DeviceTemperature> gpu;
  std::int64_t products = 0;  // finished so far
};

enum class Result {
  settled,         // the fan rose and settled: the reset worked
  nothingToReset,  // fan 0 already at or below the limit
  notEligible,     // a test of the app's check fails
  neverRose,       // the load ended (time, safety) before the fan answered
  didNotSettle,    // the fan rose but stayed above the limit
  fanUnreadable,   // a read of fan 0 failed
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
  std::optional<std::int64_t> startRpm, peakRpm, lastRpm;
  double loadSeconds = 0;
  double settleSeconds = 0;
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
