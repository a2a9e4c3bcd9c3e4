#include "composition/emulated_smc.h"

namespace ventra {

EmulatedSmc emulatedSmc(const smc::emulator::Profile& profile) {
  auto emulator = std::make_shared<smc::emulator::SMCEmulator>(profile);
  bool present = profile.service != smc::emulator::Profile::Service::absent;
  return {emulator, Composition::ofSmc(present ? emulator : nullptr)};
}

}  // namespace ventra
