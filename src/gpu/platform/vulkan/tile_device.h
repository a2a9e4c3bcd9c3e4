#pragma once

// What the tile's choice needs of a Vulkan device (tile/tile_choice.h), from its properties.

#include <string>

#include <vulkan/vulkan_raii.hpp>

#include "gpu/platform/tile/tile_choice.h"

namespace ventra::gpu::vulkan {

tile::TileDevice tileDeviceOf(const vk::raii::PhysicalDevice& device, const std::string& name);

}  // namespace ventra::gpu::vulkan
