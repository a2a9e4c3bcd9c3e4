#include "gpu/gpu_identity.h"

#include <gtest/gtest.h>

#include "gpu/platform/fake/fake_gpu.h"
#include "gpu/platform/opencl/device_name.h"

namespace ventra {
namespace {
namespace fake = gpu::fake;

std::string identityOf(std::vector<fake::DeviceSpec> devices) {
  auto gpu = std::make_shared<fake::FakeGPU>(fake::FakeGPUOptions{std::move(devices), {}, 0});
  gpu::platform::ScopedGPUPlatform installed(gpu);
  std::string identity = gpuIdentity();
  EXPECT_EQ(gpu->liveObjects(), 0) << "the device is released";
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

TEST(GpuIdentity, AsksTheDefaultDeviceForNameThenWorkingSetOnce) {
  auto gpu = std::make_shared<fake::FakeGPU>(
      fake::FakeGPUOptions{{{"AMD Radeon RX 580", 8589934592}, {"Other", 1}}, {}, 0});
  gpu::platform::ScopedGPUPlatform installed(gpu);
  gpuIdentity();
  EXPECT_EQ(gpu->calls(), (std::vector<std::string>{"MTLCreateSystemDefaultDevice", "name",
                                                    "recommendedMaxWorkingSetSize"}));
}

TEST(OpenCLDeviceName, EveryKnownRx580SpellingBecomesTheOriginalName) {
  using gpu::opencl::DeviceStrings;
  using gpu::opencl::originalDeviceName;
  const DeviceStrings rx580[] = {
      {"AMD", 0x1002, "AMD Radeon RX 580 Series (radeonsi, polaris10, ACO, DRM 3.49, 6.1.0)", ""},
      {"AMD", 0x1002, "Radeon RX 580 Series (POLARIS10 / DRM 3.49.0 / 6.1.0, LLVM 15.0.6)", ""},
      {"Advanced Micro Devices, Inc.", 0x1002, "gfx803", "AMD Radeon RX 580 Series"},
      {"Advanced Micro Devices, Inc.", 0x1002, "Ellesmere", "Radeon RX 580 Series"},
  };
  for (const auto& strings : rx580)
    EXPECT_EQ(originalDeviceName(strings), "AMD Radeon RX 580") << strings.deviceName;
  EXPECT_EQ(originalDeviceName({"NVIDIA Corporation", 0x10DE, "NVIDIA H100 80GB HBM3 (x)", ""}),
            "NVIDIA H100 80GB HBM3 (x)");
  EXPECT_EQ(
      originalDeviceName({"Intel(R) Corporation", 0x8086, "Intel(R) UHD Graphics 630 Series", ""}),
      "Intel(R) UHD Graphics 630 Series");
  EXPECT_EQ(originalDeviceName({"AMD", 0x1002, "AMD Radeon Pro W5700", "  "}),
            "AMD Radeon Pro W5700");
}

}  // namespace
}  // namespace ventra
