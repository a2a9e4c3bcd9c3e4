#pragma once

// A machine whose fan answers GPU load: the emulated SMC of a profile with a fan under load, and
// a GPU whose every submission, from start to finish, is load the fan feels. On a virtual clock
// with the fake GPU the whole reset takes a moment; with a real GPU, real time.

#include <functional>
#include <memory>

#include "app/platform/desktop.h"
#include "composition/composition.h"
#include "gpu/platform/fake/fake_gpu.h"
#include "sim/virtual_clock.h"
#include "smc/platform/emulator/emulator.h"

namespace ventra::sim {

struct MachineUnderLoad {
  std::shared_ptr<smc::emulator::SMCEmulator> emulator;
  Composition composition;  // the emulator (none where the profile says so) and the GPU
};

// `clock`: the seconds the fan keeps time by; nothing for real time.
MachineUnderLoad machineUnderLoad(const smc::emulator::Profile& profile,
                                  std::shared_ptr<gpu::platform::GPUPlatform> gpu,
                                  std::function<double()> clock = nullptr);

// The simulated card: an RX 580 8 GB working at `flopsPerSecond`, its busy time passing on
// `clock`, computing products up to `computeLimitBytes`.
gpu::fake::FakeGPUOptions simulatedCard(VirtualClock& clock, double flopsPerSecond,
                                        std::uint64_t computeLimitBytes = 0);

// The desktop of the stuck tower: the host model the app acts on, the defaults' built-in values,
// nobody at the desk. One a process; what it traces is not read.
std::shared_ptr<app::platform::Desktop> towerDesktop();

// The stuck tower on `clock`: the profile's SMC, its fan 0 answering the simulated card working
// at `flopsPerSecond`, and the tower's desktop.
MachineUnderLoad simulatedTower(const smc::emulator::Profile& profile, VirtualClock& clock,
                                double flopsPerSecond);

// What the simulated card is taken to sustain: a little over a third of the RX 580's peak.
inline constexpr double kSimulatedCardFlopsPerSecond = 2.2e12;

}  // namespace ventra::sim
