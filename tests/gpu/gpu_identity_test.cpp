#include "gpu/gpu_identity.h"
#include "composition/composition.h"

#include <gtest/gtest.h>

#include "gpu/platform/fake/fake_gpu.h"

namespace ventra {
namespace {
namespace fake = gpu::fake;

std::string identityOf(std::vector<fake::DeviceDescription> devices) {
  auto gpu = std::make_shared<fake::FakeGPU>(fake::FakeGPUOptions{std::move(devices), {}, 0});
  ScopedComposition installed(Composition::ofGpu(gpu));
  std::string identity = gpuIdentity();
  return identity;
}

TEST(GpuIdentity, NameSpaceWholeGibibytesAndGB) {
  EXPECT_EQ(identityOf({{"AMD Radeon RX 580", 8589934592}}), "AMD Radeon RX 580 8 GB");
  EXPECT_EQ(identityOf({{"AMD Radeon RX 580", 9663676415}}), "AMD Radeon RX 580 8 GB");
  EXPECT_EQ(identityOf({{"AMD Radeon RX 580", 8589934591}}), "AMD Radeon RX 580 7 GB");
  EXPECT_EQ(identityOf({{"Tiny", 1073741823}}), "Tiny 0 GB");
  EXPECT_EQ(identityOf({{"Spaced ", 1073741824}}), "Spaced  1 GB");
  EXPECT_EQ(identityOf({{"Huge", UINT64_MAX}}), "Huge 17179869183 GB");
  EXPECT_EQ(identityOf({{"AMD Radeon RX 580", 8589934592}, {"Other", 1}}),
            "AMD Radeon RX 580 8 GB");
  EXPECT_EQ(identityOf({}), "") << "no default device";
}

TEST(GpuIdentity, AsksForTheDefaultDeviceOnce) {
  auto gpu = std::make_shared<fake::FakeGPU>(
      fake::FakeGPUOptions{{{"AMD Radeon RX 580", 8589934592}, {"Other", 1}}, {}, 0});
  ScopedComposition installed(Composition::ofGpu(gpu));
  gpuIdentity();
  EXPECT_EQ(gpu->calls(), (std::vector<std::string>{"defaultDevice"}));
}

}  // namespace
}  // namespace ventra
