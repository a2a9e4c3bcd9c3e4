#pragma once

// The Linux GPU stacks, each a module loaded at the first question about devices, so a launch
// that never gets that far costs neither a driver nor a compiler. Vulkan comes first: Mesa
// installs it with every desktop; OpenCL serves where Vulkan has no device.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "gpu/platform/backend.h"
#include "gpu/platform/linux/backend_options.h"

namespace ventra::gpu::linux_gpu {

enum class Stack { vulkan, opencl };

const char* stackName(Stack stack);  // "vulkan", "opencl"
std::optional<Stack> parseStack(std::string_view name);

// Where modules may come from: an absolute directory fixed when the program was built. A program
// in its build tree loads the modules built beside it; any other program those installed with it
// (bin/../lib/ventra). Nothing when the executable's own path is not known (or not absolute):
// a module is never looked for relative to the working directory.
struct ModuleDirectories {
  std::filesystem::path buildTree;         // the build's top directory
  std::filesystem::path built;             // where the build puts the modules
  std::filesystem::path installedFromBin;  // the install's module directory, relative to bin/
};
std::optional<std::filesystem::path> moduleDirectoryFor(const std::filesystem::path& executable,
                                                        const ModuleDirectories& directories);

// One stack alone. The platform loads its module when first asked about devices; one platform
// per options for the process where no hooks are set, so kernels are compiled once. Asking for
// OpenCL sets RUSTICL_ENABLE=radeonsi where it is unset, so that Mesa's rusticl offers the card:
// compose the process at start, before other threads run.
std::shared_ptr<platform::GPUPlatform> stackPlatform(Stack stack, const BackendOptions& options);

// Why a stack's module could not be loaded, once it was asked for; nothing if it was.
std::optional<std::string> stackError(Stack stack);

// A platform made by `make` at the first question about devices.
std::shared_ptr<platform::GPUPlatform> onFirstUse(
    std::function<std::shared_ptr<platform::GPUPlatform>()> make);

// The pinned stack, or Vulkan where it offers a device and OpenCL where it does not.
std::shared_ptr<platform::GPUPlatform> linuxGpus(std::optional<Stack> pinned,
                                                 const BackendOptions& options);

}  // namespace ventra::gpu::linux_gpu
