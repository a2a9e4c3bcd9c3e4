#include "gpu_backends.h"

#include "gpu/gpu_load.h"
#include "gpu/platform/fake/fake_gpu.h"
#include "gpu/platform/metal.h"
#if VENTRA_LINUX_BACKENDS
#include "gpu/platform/linux/stacks.h"
#endif

namespace ventra::test {
namespace pf = gpu::platform;
namespace lg = gpu::linux_gpu;

std::string GpuBackend::validationMessages() const {
  std::lock_guard lock(log->mutex);
  std::string all;
  for (const auto& message : log->messages) all += message + "\n";
  return all;
}

std::vector<lg::RowBlock> GpuBackend::blocks() const {
  std::lock_guard lock(log->mutex);
  return log->blocks;
}

std::vector<const char*> gpuBackendNames() {
#if VENTRA_LINUX_BACKENDS
  return {"fake", "opencl", "vulkan"};
#else
  return {"fake"};
#endif
}

GpuBackend makeGpuBackend(const std::string& name, [[maybe_unused]] lg::BackendOptions options) {
  GpuBackend backend;
  if (name == "fake") {
    auto fake = std::make_shared<gpu::fake::FakeGPU>(
        gpu::fake::FakeGPUOptions{{{"AMD Radeon RX 580", 8ull << 30}}, {}, 64ull << 20});
    backend.platform = fake;
    backend.released = [fake] { return fake->liveObjects() == 0; };
    return backend;
  }
#if VENTRA_LINUX_BACKENDS
  options.includeCpuDevices = true;
  options.validate = name == "vulkan";
  backend.meter = options.meter = std::make_shared<lg::MemoryMeter>();
  options.onValidationMessage = [log = backend.log](const std::string& message) {
    std::lock_guard lock(log->mutex);
    log->messages.push_back(message);
  };
  options.onSubmission = [log = backend.log](const lg::RowBlock& block) {
    std::lock_guard lock(log->mutex);
    log->blocks.push_back(block);
  };
  auto stack = lg::parseStack(name);
  backend.platform = lg::stackPlatform(*stack, options);
  backend.released = [meter = backend.meter] { return meter->held() == 0; };
#endif
  return backend;
}

LoadResult runLoad(std::int64_t n) {
  struct Reader : GPULoadObserver {
    void gaveUp(const char* step) override { result.error = std::string("gave up at ") + step; }
    void completed(pf::CommandBuffer& commands, pf::Buffer& a, pf::Buffer& c) override {
      result.error = commands.error();
      result.a.resize(a.length() / 4);
      result.c.resize(c.length() / 4);
      if (!result.error && !(a.readBytes(0, result.a.data(), a.length()) &&
                             c.readBytes(0, result.c.data(), c.length())))
        result.error = "could not read the buffers back";
    }
    LoadResult result;
  } reader;
  runGPULoad(n, &reader);
  return reader.result;
}

}  // namespace ventra::test
