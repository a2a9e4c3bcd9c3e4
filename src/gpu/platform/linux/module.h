#pragma once

// The one symbol each GPU module (libventra-opencl.so, libventra-vulkan.so) exports: it makes the
// stack's platform. The loader and the modules are built from the same tree and together, so C++
// types may cross.

#include <memory>

#include "gpu/platform/backend.h"
#include "gpu/platform/linux/backend_options.h"

#define VENTRA_GPU_MODULE_ENTRY "ventra_gpu_module_platform"

extern "C" __attribute__((visibility("default"))) void ventra_gpu_module_platform(
    const ventra::gpu::linux_gpu::BackendOptions* options,
    std::shared_ptr<ventra::gpu::platform::GPUPlatform>* platform);

namespace ventra::gpu::linux_gpu {
using ModuleEntry = decltype(&ventra_gpu_module_platform);
}  // namespace ventra::gpu::linux_gpu
