#pragma once

// SIGINT and SIGTERM for a command that drives a GPU: while a SignalWatch lives they are taken
// by a thread of its own instead of interrupting whatever the program is doing (a write to a
// slow pipe, a wait on a driver), so no call fails with EINTR and no line is lost. The first
// signal asks the work to stop; the work then ends, or, if it has not ended `graceSeconds`
// later (a block in flight, a driver compiling), or a second signal comes, the watch ends the
// process itself: the driver frees the card when the process ends. Time the work spends
// writing its output (to a pipe whose reader is slow) is not held against it.

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include <signal.h>

namespace ventra::ctl {

class SignalWatch {
 public:
  // `overdue(signal)` runs on the watch's thread when the work has not ended in time, and must
  // end the process. `interruption` gets the first signal's number.
  // `writing()`: whether the work is blocked on its output now.
  SignalWatch(std::atomic<int>& interruption, double graceSeconds,
              std::function<void(int signal)> overdue, std::function<bool()> writing);
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // The work has ended and will say so itself; false where the watch is ending the process
  // already (the caller then waits for that and says nothing).
  bool ended();

 private:
  void watch(double graceSeconds);
  bool claim() { return !claimed_.exchange(true); }

  std::atomic<int>& interruption_;
  std::function<void(int)> overdue_;
  std::function<bool()> writing_;
  std::atomic<bool> claimed_{false}, leaving_{false};
  sigset_t watched_{}, previousMask_{};
  std::thread thread_;
};

}  // namespace ventra::ctl
