#pragma once

// A clock that moves only when something waits on it or works on it: a reset that takes minutes
// on the machine takes a moment here, and takes the same course every run.

#include <algorithm>
#include <atomic>

#include "reset/clock.h"

namespace ventra::sim {

class VirtualClock final : public reset::Clock {
 public:
  double now() override { return now_; }
  void sleepUntil(double deadline, const std::atomic<int>& interruption) override {
    if (interruption == 0) now_ = std::max(now_, deadline);
  }
  // Time spent working (the fake GPU's busy time).
  void advance(double seconds) { now_ += std::max(seconds, 0.0); }

 private:
  double now_ = 0;
};

}  // namespace ventra::sim
