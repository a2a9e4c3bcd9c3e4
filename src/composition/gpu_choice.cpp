#include "composition/gpu_choice.h"

namespace ventra {

std::optional<GpuChoice> parseGpuChoice(std::string_view name) {
  if (name.empty() || name == "auto") return GpuChoice::automatic;
  if (name == "vulkan") return GpuChoice::vulkan;
  if (name == "opencl") return GpuChoice::opencl;
  if (name == "fake") return GpuChoice::fake;
  return std::nullopt;
}

}  // namespace ventra
