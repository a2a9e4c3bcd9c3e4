#pragma once

// How the stuck fan of a MacPro5,1 with a foreign graphics card answers GPU load, as owners
// describe it: after a cold boot the SMC holds it at a high speed; once the card has worked for a
// while the fan spikes, and when the load ends it falls back to its idle speed and stays there.
// Time and load come from outside (a simulation's clock and GPU, or real time and a control
// file), so the same model serves tests on a virtual clock and the driver stand-in. Load is the
// card at work: products back to back, with pauses shorter than a second between them, are one
// run of load however the work is cut, as the card's heat and power stay through such a pause.

#include <optional>
#include <utility>
#include <vector>

#include "smc/four_char_code.h"

namespace ventra::smc::emulator {

struct FanUnderLoadProfile {
  int fan = 0;                    // whose speed key ("F0Ac") follows the model
  double stuckRpm = 1500;         // after a cold boot, until the load has done its work
  double loadSecondsToRise = 45;  // of GPU load, in total, before the fan spikes
  double peakRpm = 2086;          // while the load goes on after the spike
  double fallRpmPerSecond = 40;   // once the load has ended; 0: the fan stays at its peak
  double idleRpm = 950;           // where the fall ends, and the fan stays
  // How long the fan holds its peak while the load goes on; nothing: as long as the load.
  std::optional<double> peakSeconds;
};

// Load that stops and starts again within this is one run.
inline constexpr double kSameRunGapSeconds = 1.0;

class FanUnderLoad {
 public:
  explicit FanUnderLoad(FanUnderLoadProfile profile) : profile_(profile) {}
  const FanUnderLoadProfile& profile() const { return profile_; }
  FourCharCode speedKey() const;
  // The GPU starts or stops working at time t (seconds, one clock for every call). A start
  // within kSameRunGapSeconds of the last stop continues that run of load.
  void loadStarted(double t);
  void loadStopped(double t);
  double rpmAt(double t) const;

 private:
  // When the load reached loadSecondsToRise, and when the fan's fall began: the end of the run
  // of load the rise fell in, or the end of its peak, whichever came first (none while the fan
  // is still at its peak); nothing before the rise.
  std::optional<std::pair<double, std::optional<double>>> riseAndFall(double t) const;

  FanUnderLoadProfile profile_;
  std::vector<std::pair<double, double>> runs_;  // finished runs of load, in order
  std::optional<double> runningSince_;
};

}  // namespace ventra::smc::emulator
