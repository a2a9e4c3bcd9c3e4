#include "gpu/platform/vulkan/tile_device.h"

#include "gpu/platform/linux/device_name.h"

namespace ventra::gpu::vulkan {
namespace {

constexpr std::uint32_t kAmdVendorId = 0x1002;

tile::DeviceClass classOf(const vk::PhysicalDeviceProperties& properties) {
  switch (properties.deviceType) {
    case vk::PhysicalDeviceType::eCpu:
      return tile::DeviceClass::cpu;
    case vk::PhysicalDeviceType::eIntegratedGpu:
      return tile::DeviceClass::integrated;
    default:
      return properties.vendorID == kAmdVendorId ? tile::DeviceClass::discreteAmd
                                                 : tile::DeviceClass::discreteOther;
  }
}

tile::TileLimits tileLimits(const vk::PhysicalDeviceLimits& limits) {
  return {limits.maxComputeWorkGroupInvocations, limits.maxComputeWorkGroupSize[0],
          limits.maxComputeWorkGroupSize[1], limits.maxComputeSharedMemorySize};
}

// The driver as a store of tiles tells one from another: its name and its own version text.
std::string driverText(const vk::raii::PhysicalDevice& device) {
  const auto properties = device.getProperties();
  std::string version = "driver version " + std::to_string(properties.driverVersion);
  if (properties.apiVersion < VK_API_VERSION_1_2) return version;
  auto chain =
      device.getProperties2<vk::PhysicalDeviceProperties2, vk::PhysicalDeviceDriverProperties>();
  const auto& driver = chain.get<vk::PhysicalDeviceDriverProperties>();
  return linux_gpu::fieldText(driver.driverName.data(), VK_MAX_DRIVER_NAME_SIZE) + " " +
         linux_gpu::fieldText(driver.driverInfo.data(), VK_MAX_DRIVER_INFO_SIZE) + ", " + version;
}

}  // namespace

tile::TileDevice tileDeviceOf(const vk::raii::PhysicalDevice& device, const std::string& name) {
  const auto properties = device.getProperties();
  return {name, driverText(device), classOf(properties), tileLimits(properties.limits)};
}

}  // namespace ventra::gpu::vulkan
