#pragma once

// The composition of a process that talks to an emulated SMC and nothing else: tools working
// from a profile, and tests.

#include <memory>

#include "composition/composition.h"
#include "smc/platform/emulator/emulator.h"

namespace ventra {

struct EmulatedSmc {
  std::shared_ptr<smc::emulator::SMCEmulator> emulator;
  // The emulator as "AppleSMC", or no service where the profile says the host has none.
  Composition composition;
};

EmulatedSmc emulatedSmc(const smc::emulator::Profile& profile);

}  // namespace ventra
