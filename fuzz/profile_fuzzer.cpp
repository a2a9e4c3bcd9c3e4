// Profiles come from users: any bytes must give a profile or a ProfileError, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "composition/emulated_smc.h"
#include "smc/platform/emulator/profile.h"
#include "smc/smc_access.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ventra;
  try {
    auto profile = smc::emulator::parseProfileText(
        std::string(reinterpret_cast<const char*>(data), size), "fuzz");
    // A profile that parses must also serve: list and read everything it holds.
    ScopedComposition emulator(emulatedSmc(std::move(profile)).composition);
    SMCAccess::openConnection();
    for (const SMCKey& key : SMCAccess::listAllKeys()) SMCAccess::readKey(key);
  } catch (const smc::emulator::ProfileError&) {
  } catch (const SMCAccess::SMCError&) {
  }
  SMCAccess::closeConnection();
  return 0;
}
