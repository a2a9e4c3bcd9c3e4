#include "gpu/gpu_identity.h"

#include "gpu/platform/metal.h"

namespace ventra {

std::string identityText(const std::string& deviceName, std::uint64_t workingSetBytes) {
  return deviceName + " " + std::to_string(workingSetBytes >> 30) + " GB";
}

std::string gpuIdentity() {
  auto device = gpu::platform::MTLCreateSystemDefaultDevice();
  if (!device) return {};
  std::string name = device->name();
  return identityText(name, device->recommendedMaxWorkingSetSize());
}

}  // namespace ventra
