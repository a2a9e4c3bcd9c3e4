#pragma once

// The Linux GPU backend: OpenCL devices, matrix products through CLBlast. The backend proper is
// a module (libventra-opencl.so) loaded at the first question about devices; until then the
// process holds no OpenCL driver, compiler or CLBlast.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "gpu/platform/backend.h"
#include "gpu/platform/opencl/row_blocks.h"

namespace ventra::gpu::opencl {

struct OpenCLOptions {
  // Also offer CPU devices (PoCL, say) after the GPUs: for tests and for machines without a GPU.
  bool includeCpuDevices = false;
  // The most work one submission may carry (see row_blocks.h).
  std::uint64_t maxFlopsPerSubmission = kDefaultMaxFlopsPerSubmission;
  // Told of each block of rows as it is submitted (tests, diagnostics).
  std::function<void(const RowBlock&)> onSubmission;

  static OpenCLOptions withCpuDevices(bool include = true) {
    OpenCLOptions options;
    options.includeCpuDevices = include;
    return options;
  }
};

// One platform per options for the whole process (a new one for each call with onSubmission).
// Making it sets RUSTICL_ENABLE=radeonsi where it is unset, so that Mesa's rusticl offers the card
// on systems where Clover is gone: call it at start, before other threads run.
std::shared_ptr<platform::GPUPlatform> openclPlatform(OpenCLOptions options = {});

// Why the OpenCL module could not be loaded, once devices were asked for; nothing if it was.
std::optional<std::string> openclModuleError();

}  // namespace ventra::gpu::opencl
