#pragma once

// The Linux GPU backend: OpenCL devices, matrix products through CLBlast.

#include <memory>

#include "gpu/platform/metal.h"

namespace ventra::gpu::opencl {

struct OpenCLOptions {
  // Also offer CPU devices (PoCL, say) after the GPUs: for tests and for machines without a GPU.
  bool includeCpuDevices = false;
};

// One platform object per options for the whole process: devices and their contexts are made
// once, so the library compiles its kernels once per process.
std::shared_ptr<platform::GPUPlatform> openclPlatform(OpenCLOptions options = {});

}  // namespace ventra::gpu::opencl
