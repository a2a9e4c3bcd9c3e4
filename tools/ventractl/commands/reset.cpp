// ventractl reset: the fan reset that proves itself. The app's check, then the app's workload
// until fan 0 rises, then fan 0 watched until it settles; from a terminal, or at boot from the
// systemd unit. With --profile and --gpu fake the whole road runs on a simulated tower, on a
// virtual clock.
#include <cmath>
#include <csignal>
#include <optional>
#include <ostream>
#include <vector>

#include "commands/commands.h"
#include "commands/session.h"
#include "commands/signal_watch.h"
#include "host/host.h"
#include "line/options.h"
#include "sim/machine_under_load.h"
#include "smc/platform/emulator/profile.h"
#include "views/reset_view.h"

namespace ventra::ctl {
namespace {

std::atomic<int> interruption{0};

// How long the work may take to end after a signal before ventractl ends without it.
constexpr double kGraceSeconds = 1.0;
// How often --wait looks for the hardware.
constexpr double kPollSeconds = 0.25;

std::string listed(const std::vector<std::string>& pieces) {
  std::string text;
  for (const auto& piece : pieces) text += (text.empty() ? "" : "; ") + piece;
  return text;
}

// The simulated card takes as long over a product of any size as the card over the app's own:
// without a --size it works small matrices, and the demo needs no gigabyte of ones.
constexpr std::int64_t kSimulatedTowerSize = 64;

reset::ResetOptions resetOptions(const Options& given) {
  reset::ResetOptions options;
  if (given.profile && given.gpu == GpuChoice::fake) options.matrixSize = kSimulatedTowerSize;
  options.force = given.force;
  if (given.riseRpm) options.riseRpm = *given.riseRpm;
  if (given.maxLoadSeconds) options.maxLoadSeconds = *given.maxLoadSeconds;
  if (given.settleSeconds) options.settleSeconds = *given.settleSeconds;
  if (given.size) options.matrixSize = *given.size;
  return options;
}

// The simulated card's rate at a product of n: the card's own time over the app's size.
double simulatedRate(std::int64_t n) {
  const double full = static_cast<double>(app::kResetMatrixSize);
  const double productSeconds = 2 * full * full * full / sim::kSimulatedCardFlopsPerSecond;
  return 2 * std::pow(static_cast<double>(n), 3) / productSeconds;
}

// The machine the reset runs on, installed while the object lives, and its clock: the simulated
// tower (--profile with --gpu fake) on a virtual clock, else the host's real time with its GPU
// and its SMC or the profile's.
class ResetMachine {
 public:
  ResetMachine(const Options& options, std::int64_t n) {
    if (options.profile && options.gpu == GpuChoice::fake) {
      simulated_ = true;
      installed_.emplace(
          sim::simulatedTower(profile(options), virtual_, simulatedRate(n)).composition);
      return;
    }
    if (auto missing = hostUnavailable()) throw CommandError(*missing);
    Composition host = hostComposition(options);
    if (options.profile) {
      auto machine = sim::machineUnderLoad(profile(options), host.gpu);
      host.smc = machine.composition.smc;
      host.gpu = machine.composition.gpu;
    }
    installed_.emplace(std::move(host));
  }
  reset::Clock& clock() {
    if (simulated_) return virtual_;
    return steady_;
  }

 private:
  static smc::emulator::Profile profile(const Options& options) {
    return smc::emulator::loadProfileFile(dataFileNamed(*options.profile, "profiles"));
  }

  bool simulated_ = false;
  sim::VirtualClock virtual_;
  reset::SteadyClock steady_;
  std::optional<ScopedComposition> installed_;
};

OutcomeWords wordsFor(const reset::Outcome& outcome, const Options& options,
                      const std::vector<std::string>& missing) {
  OutcomeWords words;
  if (outcome.refusedBy)
    words.failingTest =
        failingTestText(eligibilityRows(outcome.check, eligibilityCauses(options, outcome.check)),
                        *outcome.refusedBy);
  if (outcome.fanError) words.fanCause = whyFanZeroIsUnreadable(*outcome.fanError, options);
  const bool worked = exitStatusOf(outcome) == 0;
  if (!missing.empty() && !worked)
    words.after = "; still missing after --wait " + secondsText(*options.waitSeconds) + ": " +
                  listed(missing);
  return words;
}

// --wait: the SMC driver and a render node may come a little after a boot starts the reset.
// What is still missing once the wait is over (or a signal ended it).
std::vector<std::string> waitForHardware(Context& context) {
  if (!context.options.waitSeconds) return {};
  auto missing = missingHardware(context.options);
  if (missing.empty()) return missing;
  context.err << "ventractl: waiting up to " << secondsText(*context.options.waitSeconds) << " for "
              << listed(missing) << std::endl;
  reset::SteadyClock clock;
  while (!missing.empty() && interruption == 0 && clock.now() < *context.options.waitSeconds) {
    clock.sleepUntil(clock.now() + kPollSeconds, interruption);
    missing = missingHardware(context.options);
  }
  if (!missing.empty() && interruption == 0)
    context.err << "ventractl: still missing after " << secondsText(*context.options.waitSeconds)
                << ": " << listed(missing) << "; checking anyway" << std::endl;
  return missing;
}

// A signal while waiting for the hardware: nothing was checked or loaded.
int interruptedWhileWaiting(ProgressView& view, const std::vector<std::string>& missing,
                            double waited) {
  reset::Outcome outcome = view.interruptedAt(waited, interruption);
  outcome.lastRpm.reset();
  view.finished(outcome, "interrupted by " + signalName(interruption) + " after " +
                             secondsText(waited) + " of waiting for " + listed(missing) +
                             "; nothing was checked or loaded");
  return exitStatusOf(outcome);
}

// The reset did not end within the grace after a signal (a block in flight, a driver
// compiling): its outcome so far is shown, and the process ends, which frees the card. A view
// busy writing to a slow pipe is waited for: the line comes once the reader takes what is
// before it.
[[noreturn]] void endWithoutTheGpu(ProgressView& view, const reset::ResetOptions& options, double t,
                                   int signal) {
  const reset::Outcome outcome = view.interruptedAt(t, signal);
  OutcomeWords words;
  words.after = view.loading()
                    ? " (the GPU's work in flight had not ended " + secondsText(kGraceSeconds) +
                          " after the signal: ventractl ended without it; the card is freed as "
                          "the process ends)"
                    : " (the load was still being prepared: its matrices filled and copied to the "
                      "card, its code compiled by the driver the first time; ventractl ended "
                      "without waiting for it)";
  view.finished(outcome, outcomeLine(outcome, options, words));
  std::_Exit(exitStatusOf(outcome));
}

int runReset(Context& context, const Arguments& args) {
  expectArguments(args, 0, "reset");
  if (!context.options.profile && context.options.gpu == GpuChoice::fake)
    throw UsageError(
        "--gpu fake resets a simulated tower: give it an SMC with --profile (for example "
        "ventractl --profile macpro5_1-stuck.json reset --gpu fake)");
  const reset::ResetOptions options = resetOptions(context.options);
  ProgressView view(resetViewFor(context, options));
  reset::SteadyClock started;
  std::atomic<reset::Clock*> clock{&started};
  interruption = 0;
  SignalWatch signals(
      interruption, kGraceSeconds,
      [&](int signal) { endWithoutTheGpu(view, options, clock.load()->now(), signal); },
      [&] { return view.showing(); });
  const auto missing = waitForHardware(context);
  if (interruption != 0 && signals.ended())
    return interruptedWhileWaiting(view, missing, started.now());
  ResetMachine machine(context.options, options.matrixSize);
  clock = &machine.clock();
  const reset::Outcome outcome = reset::runReset(options, machine.clock(), view, interruption);
  signals.ended();
  view.finished(outcome,
                outcomeLine(outcome, options, wordsFor(outcome, context.options, missing)));
  return exitStatusOf(outcome);
}

}  // namespace

CommandDefinition resetCommand() {
  return {"reset",
          "reset the fans and prove it: load the GPU until fan 0 rises, then watch it settle",
          {},
          smcAnd({{option::json, kResetJsonHelp},
                  option::allowCpu,
                  option::gpu,
                  option::size,
                  {option::force,
                   "try it on other hardware: skip the host, GPU-identity and fan-speed tests (fan "
                   "0 is still read)"},
                  option::rise,
                  option::maxLoad,
                  option::settle,
                  option::wait,
                  option::optionsFrom}),
          {},
          runReset};
}

}  // namespace ventra::ctl
