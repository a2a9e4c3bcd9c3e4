#include "reset/clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace ventra::reset {
namespace {

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// How soon an interruption is noticed while asleep.
constexpr double kWakeSeconds = 0.05;

}  // namespace

SteadyClock::SteadyClock() : start_(steadySeconds()) {}

double SteadyClock::now() {
  return steadySeconds() - start_;
}

void SteadyClock::sleepUntil(double deadline, const std::atomic<int>& interruption) {
  for (double left = deadline - now(); left > 0 && interruption == 0; left = deadline - now())
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, kWakeSeconds)));
}

}  // namespace ventra::reset
