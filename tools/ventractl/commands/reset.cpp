// ventractl reset: the fan reset that proves itself. The app's check, then the app's workload
// until fan 0 rises, then fan 0 watched until it settles; from a terminal, or at boot from the
// systemd unit. With --profile and --gpu fake the whole road runs on a simulated tower, on a
// virtual clock.
#include <cmath>
#include <csignal>
#include <optional>
#include <ostream>

#include "commands/commands.h"
#include "commands/context.h"
#include "host/host.h"
#include "sim/machine_under_load.h"
#include "sim/sim_desktop.h"
#include "smc/platform/emulator/profile.h"
#include "views/reset_view.h"

namespace ventra::ctl {
namespace {

std::atomic<int> interruption{0};

// SIGINT and SIGTERM ask the reset to stop while the object lives; the previous handlers come
// back after it.
class StopOnSignals {
 public:
  StopOnSignals() {
    interruption = 0;
    struct sigaction action {};
    action.sa_handler = [](int signal) { interruption = signal; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInterrupt_);
    sigaction(SIGTERM, &action, &previousTerminate_);
  }
  ~StopOnSignals() {
    sigaction(SIGINT, &previousInterrupt_, nullptr);
    sigaction(SIGTERM, &previousTerminate_, nullptr);
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  struct sigaction previousInterrupt_ {};
  struct sigaction previousTerminate_ {};
};

reset::ResetOptions resetOptions(const Options& given) {
  reset::ResetOptions options;
  options.force = given.force;
  if (given.riseRpm) options.riseRpm = *given.riseRpm;
  if (given.maxLoadSeconds) options.maxLoadSeconds = *given.maxLoadSeconds;
  if (given.settleSeconds) options.settleSeconds = *given.settleSeconds;
  if (given.size) options.matrixSize = *given.size;
  return options;
}

// The simulated card takes as long over a product of any --size as the card over the app's own,
// so a small --size walks the same road, only with less memory.
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
      scenario_.hostModel = app::kAcceptedHostModel;
      auto card =
          std::make_shared<gpu::fake::FakeGPU>(sim::simulatedCard(virtual_, simulatedRate(n)));
      auto machine =
          sim::machineUnderLoad(profile(options), card, [this] { return virtual_.now(); });
      machine.composition.desktop = sim::simulatedDesktop(scenario_, trace_);
      installed_.emplace(std::move(machine.composition));
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
  sim::Scenario scenario_;
  sim::Trace trace_;
  std::optional<ScopedComposition> installed_;
};

OutcomeWords wordsFor(const reset::Outcome& outcome, const Options& options) {
  OutcomeWords words;
  if (outcome.check.failed)
    words.failingTest =
        failingTestText(eligibilityRows(outcome.check, eligibilityCauses(options, outcome.check)),
                        *outcome.check.failed);
  if (outcome.fanError) words.fanCause = whyFanZeroIsUnreadable(*outcome.fanError, options);
  return words;
}

int runReset(Context& context, const Arguments& args) {
  expectArguments(args, 0, "reset");
  if (!context.options.profile && context.options.gpu == GpuChoice::fake)
    throw UsageError(
        "--gpu fake resets a simulated tower: give it an SMC with --profile (for example "
        "ventractl --profile macpro5_1-stuck.json reset --gpu fake)");
  const reset::ResetOptions options = resetOptions(context.options);
  if (context.options.waitSeconds &&
      !waitForHardware(*context.options.waitSeconds, context.options, context.err))
    context.err << "ventractl: still missing after " << *context.options.waitSeconds
                << " s; checking anyway\n";
  ResetMachine machine(context.options, options.matrixSize);
  auto view = resetViewFor(context, options);
  StopOnSignals signals;
  const reset::Outcome outcome = reset::runReset(options, machine.clock(), *view, interruption);
  view->finished(outcome, outcomeLine(outcome, options, wordsFor(outcome, context.options)));
  return exitStatusOf(outcome);
}

}  // namespace

CommandDefinition resetCommand() {
  return {"reset",
          "reset the fans and prove it: load the GPU until fan 0 rises, then watch it settle",
          {},
          smcAnd({"json", "allowCpu", "gpu", "size", "resetForce", "rise", "maxLoad", "settle",
                  "wait"}),
          {},
          runReset,
          kResetJsonHelp};
}

}  // namespace ventra::ctl
