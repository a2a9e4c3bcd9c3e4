#pragma once

#include <cstdint>
#include <memory>

namespace ventra {

namespace gpu::platform {
class Buffer;
class CommandBuffer;
}  // namespace gpu::platform

// Hooks for diagnostics around the workload; the app passes none.
class GPULoadObserver {
 public:
  enum class Phase { fill, encode, commit, wait };
  virtual ~GPULoadObserver() = default;
  virtual void phaseStarted(Phase) {}
  virtual void phaseEnded(Phase) {}
  // The step that yielded nothing, when the load gives up.
  virtual void gaveUp(const char* /*step*/) {}
  // After the wait, before anything is released: the command buffer, buffer A and buffer C.
  virtual void completed(gpu::platform::CommandBuffer&, gpu::platform::Buffer& /*left*/,
                         gpu::platform::Buffer& /*result*/) {}
};

const char* phaseName(GPULoadObserver::Phase phase);

// Two n × n float32 products C = A × A on the default device, blocking until the device has
// finished. A is a copy of a host array of ones, which lives as long as the call. A step that
// yields nothing (no device, host array, queue, command buffer or buffer) ends the load quietly;
// everything obtained is released before the call returns. A negative n, or one whose n × n × 4
// bytes do not fit, does nothing.
void runGPULoad(std::int64_t n, GPULoadObserver* observer = nullptr);

}  // namespace ventra
