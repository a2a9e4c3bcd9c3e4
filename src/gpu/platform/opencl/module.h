#pragma once

// The one symbol the OpenCL module exports: it makes the backend's platform. The loader and
// the module are built from the same tree and together, so C++ types may cross.

#include <memory>

#include "gpu/platform/backend.h"
#include "gpu/platform/opencl/opencl_gpu.h"

#define VENTRA_OPENCL_MODULE_ENTRY "ventra_opencl_module_platform"

extern "C" __attribute__((visibility("default"))) void ventra_opencl_module_platform(
    const ventra::gpu::opencl::OpenCLOptions* options,
    std::shared_ptr<ventra::gpu::platform::GPUPlatform>* platform);

namespace ventra::gpu::opencl {
using ModuleEntry = decltype(&ventra_opencl_module_platform);
}  // namespace ventra::gpu::opencl
