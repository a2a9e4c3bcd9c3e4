// A ventractl built without the Linux backends: the host has nothing to offer, and every command
// that needs it says so.
#include "host/host.h"
#include "kit/context.h"

namespace ventra::ctl {

Composition hostComposition(const Options&) {
  return {};
}

std::shared_ptr<gpu::platform::GPUPlatform> hostGpuPlatform(const Options&) {
  return nullptr;
}

std::vector<std::shared_ptr<gpu::platform::GPUPlatform>> listedGpuStacks(const Options&) {
  return {};
}

std::optional<std::string> hostUnavailable() {
  return "this ventractl was built without the Linux backends (VENTRA_LINUX_BACKENDS=OFF): it "
         "works only with --profile FILE and simulated hosts";
}

std::string noHostSmc(const Options&) {
  return *hostUnavailable();
}

std::optional<std::string> whyTheSmcRefused(const Options&) {
  return std::nullopt;
}

std::vector<FourCharCode> driverTemperatureKeys(const Options&) {
  return {};
}

std::string noHostGpus(const Options&) {
  return *hostUnavailable();
}

std::vector<std::string> missingHardware(const Options&) {
  return {};
}

void forgetTunedTile(const gpu::platform::Device&, std::ostream&) {}

std::string builtBackends() {
  return "emulator, fake GPU, simulator";
}

int runOnLinuxDesktop(const sim::Scenario&, sim::Trace&, std::ostream&,
                      std::shared_ptr<gpu::platform::GPUPlatform>) {
  throw CommandError(*hostUnavailable());
}

}  // namespace ventra::ctl
