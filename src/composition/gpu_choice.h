#pragma once

// Which GPUs a process works with: a stack the user named, the simulated card, or the choice the
// app makes itself (Vulkan where it offers a device, else OpenCL). Read in one place from each of
// the command line, the user's defaults and VENTRA_GPU, and handed to the composition.

#include <optional>
#include <string_view>

namespace ventra {

enum class GpuChoice { automatic, vulkan, opencl, fake };

// "vulkan", "opencl", "fake", or "auto" (as empty) for automatic; nothing for any other text.
std::optional<GpuChoice> parseGpuChoice(std::string_view name);

}  // namespace ventra
