#include "smc/platform/emulator/fan_under_load.h"

#include <algorithm>
#include <string>

namespace ventra::smc::emulator {

FourCharCode FanUnderLoad::speedKey() const {
  return *fourCharCodeFromString("F" + std::to_string(profile_.fan) + "Ac");
}

void FanUnderLoad::loadStarted(double t) {
  if (runningSince_) return;
  if (!runs_.empty() && t - runs_.back().second <= kSameRunGapSeconds) {
    runningSince_ = runs_.back().first;  // no gap: the same run goes on
    runs_.pop_back();
    return;
  }
  runningSince_ = t;
}

void FanUnderLoad::loadStopped(double t) {
  if (!runningSince_) return;
  runs_.emplace_back(*runningSince_, std::max(t, *runningSince_));
  runningSince_.reset();
}

std::optional<std::pair<double, std::optional<double>>> FanUnderLoad::riseAndFall(double t) const {
  double loaded = 0;
  auto reaches = [&](double start, double end) -> std::optional<double> {
    const double needed = profile_.loadSecondsToRise - loaded;
    if (end - start < needed) {
      loaded += end - start;
      return std::nullopt;
    }
    return start + needed;
  };
  // The fall begins where the run ended or the peak did, once that moment has come.
  auto fall = [&](double rise, std::optional<double> end) -> std::optional<double> {
    if (profile_.peakSeconds)
      end = std::min(end.value_or(rise + *profile_.peakSeconds), rise + *profile_.peakSeconds);
    return end && *end <= t ? end : std::nullopt;
  };
  for (const auto& [start, end] : runs_) {
    if (start > t) return std::nullopt;
    if (auto rise = reaches(start, std::min(end, t))) return std::pair(*rise, fall(*rise, end));
  }
  if (runningSince_ && *runningSince_ <= t)
    if (auto rise = reaches(*runningSince_, t)) return std::pair(*rise, fall(*rise, std::nullopt));
  return std::nullopt;
}

double FanUnderLoad::rpmAt(double t) const {
  auto rise = riseAndFall(t);
  if (!rise) return profile_.stuckRpm;
  const std::optional<double>& loadEnded = rise->second;
  if (!loadEnded) return profile_.peakRpm;
  const double fallen = profile_.fallRpmPerSecond * (t - *loadEnded);
  return std::max(profile_.idleRpm, profile_.peakRpm - fallen);
}

}  // namespace ventra::smc::emulator
