#pragma once

// The GPU backends a test can run the port's contract on, each made with the hooks tests watch:
// a memory meter, every validation message, submitted blocks. The load run with its results read
// back.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gpu/platform/backend.h"
#include "gpu/platform/linux/backend_options.h"

namespace ventra::test {

struct GpuBackend {
  std::shared_ptr<gpu::platform::GPUPlatform> platform;
  std::shared_ptr<gpu::linux_gpu::MemoryMeter> meter;  // null for the fake
  std::function<bool()> released;                      // nothing the backend made is alive
  struct Log {
    std::mutex mutex;
    std::vector<std::string> messages;
    std::vector<gpu::linux_gpu::RowBlock> blocks;
  };
  std::shared_ptr<Log> log = std::make_shared<Log>();
  // Every validation message so far, one a line; empty when the layer was silent.
  std::string validationMessages() const;
  std::vector<gpu::linux_gpu::RowBlock> blocks() const;
};

// "fake", and "opencl" and "vulkan" where the build has the Linux backends.
std::vector<const char*> gpuBackendNames();

// CPU devices allowed; Vulkan runs under the validation layer.
GpuBackend makeGpuBackend(const std::string& name, gpu::linux_gpu::BackendOptions options = {});

struct LoadResult {
  std::optional<std::string> error;  // the command buffer's, or the step the load gave up at
  std::vector<float> a, c;           // buffers A and C read back
};
// runGPULoad(n) on the installed composition.
LoadResult runLoad(std::int64_t n);

}  // namespace ventra::test
