#include "commands/signal_watch.h"

#include <chrono>
#include <ctime>
#include <optional>

namespace ventra::ctl {
namespace {

using Clock = std::chrono::steady_clock;

// How often the watch looks whether it should leave.
constexpr timespec kPoll{0, 50'000'000};

}  // namespace

// Threads inherit the mask: the signals must be blocked before the GPU's drivers start theirs.
SignalWatch::SignalWatch(std::atomic<int>& interruption, double graceSeconds,
                         std::function<void(int)> overdue, std::function<bool()> writing)
    : interruption_(interruption), overdue_(std::move(overdue)), writing_(std::move(writing)) {
  sigemptyset(&watched_);
  sigaddset(&watched_, SIGINT);
  sigaddset(&watched_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &watched_, &previousMask_);
  thread_ = std::thread([this, graceSeconds] { watch(graceSeconds); });
}

SignalWatch::~SignalWatch() {
  leaving_ = true;
  thread_.join();
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

bool SignalWatch::ended() {
  if (claim()) return true;
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));  // the watch ends the process
}

void SignalWatch::watch(double graceSeconds) {
  const auto grace =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(graceSeconds));
  std::optional<Clock::time_point> deadline;
  while (!leaving_) {
    const int signal = sigtimedwait(&watched_, nullptr, &kPoll);
    if (signal > 0 && !deadline) {
      interruption_ = signal;
      deadline = Clock::now() + grace;
      continue;
    }
    if (deadline && writing_()) deadline = Clock::now() + grace;
    const bool late = signal > 0 || (deadline && Clock::now() >= *deadline);
    if (late && claim()) overdue_(signal > 0 ? signal : interruption_.load());
  }
}

}  // namespace ventra::ctl
