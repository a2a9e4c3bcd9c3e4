#pragma once

// What `reset` shows while it runs and how it ended. On a terminal one status line redrawn each
// second, then fan 0's sparkline over the run and the outcome; into a log (a pipe, the journal)
// a line for each phase and one every 10 s; with --json one object per event.

#include <iosfwd>
#include <memory>
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
};

// The one line that says how the reset ended, with its figures and what to try next.
std::string outcomeLine(const reset::Outcome& outcome, const reset::ResetOptions& options,
                        const OutcomeWords& words);

// 0: the fan settled, or there was nothing to reset; 3: a host the app would not act on;
// 128 + the signal: interrupted; 1: anything else.
int exitStatusOf(const reset::Outcome& outcome);

class ResetView : public reset::ResetObserver {
 public:
  // Shows how the reset ended: `line` is its outcome line.
  virtual void finished(const reset::Outcome& outcome, const std::string& line) = 0;
};

std::unique_ptr<ResetView> resetViewFor(Context& context, const reset::ResetOptions& options);

// The schema of --json, for the help and the manual.
extern const char* const kResetJsonHelp;

}  // namespace ventra::ctl
