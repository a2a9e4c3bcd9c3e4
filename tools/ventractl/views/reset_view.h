#pragma once

// What `reset` shows while it runs and how it ended. On a terminal one status line redrawn each
// second, then fan 0's sparkline over the run and the outcome; into a log (a pipe, the journal)
// a line for each phase and one every 10 s; with --json one object per event.

#include <atomic>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "reset/reset.h"

namespace ventra::ctl {

struct Context;

// The words for an outcome the host must supply: the failing test of the check with its cause,
// and why fan 0 could not be read.
struct OutcomeWords {
  std::string failingTest;
  std::optional<std::string> fanCause;
  std::string after;  // said at the end of the line, where there is more to say
};

// "4.5 s", "120 s": tenths below 10 s where there are any.
std::string secondsText(double value);
// "Ctrl-C (SIGINT)", "SIGTERM".
std::string signalName(int signal);

// The one line that says how the reset ended, with its figures and what to try next.
std::string outcomeLine(const reset::Outcome& outcome, const reset::ResetOptions& options,
                        const OutcomeWords& words);

// 0: the fan settled, or there was nothing to reset; 3: a host the app would not act on;
// 2: a rise the fan cannot make; 128 + the signal: interrupted; 1: anything else.
int exitStatusOf(const reset::Outcome& outcome);

class ResetView : public reset::ResetObserver {
 public:
  // Shows how the reset ended: `line` is its outcome line.
  virtual void finished(const reset::Outcome& outcome, const std::string& line) = 0;
};

std::unique_ptr<ResetView> resetViewFor(Context& context, const reset::ResetOptions& options);

// Passes each event to the view it wraps, one at a time, and keeps what the reset has reached,
// so that another thread can end the run with an outcome when the reset cannot end by itself.
class ProgressView final : public ResetView {
 public:
  explicit ProgressView(std::unique_ptr<ResetView> inner) : inner_(std::move(inner)) {}
  void checked(const app::Eligibility& found) override;
  void phaseStarted(reset::Phase phase, double t) override;
  void sampled(const reset::Sample& sample) override;
  void finished(const reset::Outcome& outcome, const std::string& line) override;
  // What was reached by `t`, as an outcome interrupted by `signal`.
  reset::Outcome interruptedAt(double t, int signal);
  // Whether the reset had begun its load (its first sample taken) when it was interrupted.
  bool loading();
  // Whether an event is being shown now (a write to a slow pipe can take a while).
  bool showing() const { return showing_; }

 private:
  std::unique_ptr<ResetView> inner_;
  // Held while an event is shown: a write to a slow pipe holds it until the reader reads.
  std::mutex mutex_;
  std::atomic<bool> showing_{false};
  reset::Outcome reached_;
  bool loading_ = false;
};

// The schema of --json, for the help and the manual.
extern const char* const kResetJsonHelp;

}  // namespace ventra::ctl
