#pragma once

// The tile our shader runs with on a device: the one the options give (the tuner, tests), else
// the one tuned on this device and driver (linux/tile_store.h) where it still fits, else the
// default for the device's class. A stored choice that does not fit, or will not build, is
// dropped from the store with a message, never used.

#include <string>

#include <vulkan/vulkan_raii.hpp>

#include "gpu/platform/linux/backend_options.h"
#include "gpu/platform/linux/kernel_tile.h"

namespace ventra::gpu::vulkan {

struct TileChoice {
  linux_gpu::KernelTile tile;
  std::string source;  // "given", "tuned on this device", "the default for ..."
  bool stored = false;
};

linux_gpu::TileLimits tileLimits(const vk::raii::PhysicalDevice& device);

// The driver as a store of tiles tells one from another: its name and its own version text.
std::string driverText(const vk::raii::PhysicalDevice& device);

TileChoice chooseTile(const vk::raii::PhysicalDevice& device, const std::string& deviceName,
                      const linux_gpu::BackendOptions& options);

// The stored choice failed to build: dropped from the store, said on standard error.
void dropStoredTile(const std::string& deviceName, const std::string& driver,
                    const linux_gpu::BackendOptions& options, const std::string& why);

}  // namespace ventra::gpu::vulkan
