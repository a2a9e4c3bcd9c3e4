#include "gpu/platform/vulkan/tile_choice.h"

#include <iostream>

#include "gpu/platform/linux/device_name.h"
#include "gpu/platform/linux/tile_store.h"

namespace ventra::gpu::vulkan {
namespace lg = linux_gpu;
namespace {

constexpr std::uint32_t kAmdVendorId = 0x1002;

lg::DeviceClass classOf(const vk::PhysicalDeviceProperties& properties) {
  switch (properties.deviceType) {
    case vk::PhysicalDeviceType::eCpu:
      return lg::DeviceClass::cpu;
    case vk::PhysicalDeviceType::eIntegratedGpu:
      return lg::DeviceClass::integrated;
    default:
      return properties.vendorID == kAmdVendorId ? lg::DeviceClass::discreteAmd
                                                 : lg::DeviceClass::discreteOther;
  }
}

const char* className(lg::DeviceClass kind) {
  switch (kind) {
    case lg::DeviceClass::discreteAmd:
      return "the default for a discrete AMD card";
    case lg::DeviceClass::discreteOther:
      return "the default for a discrete card";
    case lg::DeviceClass::integrated:
      return "the default for an integrated GPU";
    case lg::DeviceClass::cpu:
      return "the default for a CPU device";
  }
  return "the default";
}

}  // namespace

lg::TileLimits tileLimits(const vk::raii::PhysicalDevice& device) {
  const auto& limits = device.getProperties().limits;
  return {limits.maxComputeWorkGroupInvocations, limits.maxComputeWorkGroupSize[0],
          limits.maxComputeWorkGroupSize[1], limits.maxComputeSharedMemorySize};
}

std::string driverText(const vk::raii::PhysicalDevice& device) {
  const auto properties = device.getProperties();
  std::string version = "driver version " + std::to_string(properties.driverVersion);
  if (properties.apiVersion < VK_API_VERSION_1_2) return version;
  auto chain =
      device.getProperties2<vk::PhysicalDeviceProperties2, vk::PhysicalDeviceDriverProperties>();
  const auto& driver = chain.get<vk::PhysicalDeviceDriverProperties>();
  return lg::fieldText(driver.driverName.data(), VK_MAX_DRIVER_NAME_SIZE) + " " +
         lg::fieldText(driver.driverInfo.data(), VK_MAX_DRIVER_INFO_SIZE) + ", " + version;
}

TileChoice chooseTile(const vk::raii::PhysicalDevice& device, const std::string& deviceName,
                      const lg::BackendOptions& options) {
  if (options.tile) return {*options.tile, "given", false};
  const lg::DeviceClass kind = classOf(device.getProperties());
  const TileChoice fallback{lg::defaultTile(kind), className(kind), false};
  if (options.tileStore.empty()) return fallback;
  lg::TileStore store(options.tileStore);
  auto stored = store.find(deviceName, driverText(device));
  if (!stored) return fallback;
  if (auto why = lg::whyTileDoesNotFit(stored->tile, tileLimits(device))) {
    dropStoredTile(deviceName, stored->driver, options, *why);
    return fallback;
  }
  return {stored->tile, lg::kTunedOnThisDevice, true};
}

void dropStoredTile(const std::string& deviceName, const std::string& driver,
                    const lg::BackendOptions& options, const std::string& why) {
  auto problem = lg::dropStoredTile(options.tileStore, deviceName, driver);
  std::cerr << "ventra: the tile tuned for " << deviceName << " is dropped (" << why
            << "); the default is used" << (problem ? " (" + *problem + ")" : "") << "\n";
}

}  // namespace ventra::gpu::vulkan
