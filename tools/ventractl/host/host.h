#pragma once

// The host's own backends, as far as this build has them: host_linux.cpp where the build has the
// Linux backends, host_portable.cpp where it leaves them out (emulated SMCs and simulated hosts
// only).

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "composition/composition.h"
#include "line/cli.h"
#include "sim/scenario.h"
#include "sim/trace.h"

namespace ventra::ctl {

// The host's SMC driver (in --applesmc DIR or its usual place), its GPUs (the stack --gpu names,
// else Vulkan where it has a device and OpenCL where not; CPU devices too with --allow-cpu) and
// its desktop; empty where this build has none.
Composition hostComposition(const Options& options);

// The host's GPUs alone, as hostComposition composes them; nothing where this build has none.
std::shared_ptr<gpu::platform::GPUPlatform> hostGpuPlatform(const Options& options);

// What `gpu` lists: the stack --gpu names, else each stack of this build on its own.
std::vector<std::shared_ptr<gpu::platform::GPUPlatform>> listedGpuStacks(const Options& options);

// Why a command that needs the host's backends cannot run in this build; nothing where it can.
std::optional<std::string> hostUnavailable();

// Why the host has no SMC service, for a command that needed one.
std::string noHostSmc(const Options& options);

// The temperature keys the host's SMC driver labels for every user, readable without root; none
// with --profile (an emulated SMC) or where this build has no driver.
std::vector<FourCharCode> driverTemperatureKeys(const Options& options);

// Why the host's SMC refused to open, where the host can tell (not the driver's directory).
std::optional<std::string> whyTheSmcRefused(const Options& options);

// Why the host offers no GPU device, for a command that needed one: a card held by another
// driver or a render node this user may not open where that is so, else the stacks' own words.
std::string noHostGpus(const Options& options);

// At boot the SMC driver and the GPU's render node may come a little after the reset starts:
// what of them is not there yet, each named with where it is looked for and how to bring it.
// Empty where everything is (or where the options need neither: --profile, --gpu fake,
// --allow-cpu).
std::vector<std::string> missingHardware(const Options& options);

// A load on `device` gave wrong results: a tile tuned for it (gpu tune) is dropped from the
// user's store, said on `err`, and never used again.
void forgetTunedTile(const gpu::platform::Device& device, std::ostream& err);

// The backends in this build, for --version.
std::string builtBackends();

// `simulate --desktop linux`: the app on the real Linux desktop with the scenario's host. The
// app's exit status; `trace` holds every platform call with its time since launch.
// `gpu` replaces the scenario's GPUs where set.
int runOnLinuxDesktop(const sim::Scenario& scenario, sim::Trace& trace, std::ostream& notes,
                      std::shared_ptr<gpu::platform::GPUPlatform> gpu);

}  // namespace ventra::ctl
