#include "composition/fake_gpus.h"

#include <cstdint>

#include "gpu/platform/fake/fake_gpu.h"

namespace ventra {

std::shared_ptr<gpu::platform::GPUPlatform> recordingRx580() {
  static auto fake = std::make_shared<gpu::fake::FakeGPU>(gpu::fake::FakeGPUOptions{
      {{"AMD Radeon RX 580", std::uint64_t{8} << 30}}, {}, std::uint64_t{64} << 20});
  return fake;
}

}  // namespace ventra
