#pragma once

// The time the reset keeps: seconds from an arbitrary start. On the machine it is real time; in
// tests and simulations a virtual clock that moves only when something waits on it.

#include <atomic>

namespace ventra::reset {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double now() = 0;
  // Returns at `deadline`, or sooner once `interruption` holds a value other than 0.
  virtual void sleepUntil(double deadline, const std::atomic<int>& interruption) = 0;
};

// Real time, from the moment the clock was made.
class SteadyClock final : public Clock {
 public:
  SteadyClock();
  double now() override;
  void sleepUntil(double deadline, const std::atomic<int>& interruption) override;

 private:
  double start_;
};

}  // namespace ventra::reset
