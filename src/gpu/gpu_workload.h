#pragma once

// What the load works with, made once in the load's own order: the default device, the host
// array of ones, a command queue, buffers A (a copy of the array) and C, one descriptor, matrices
// A and C and the multiplication kernel. The app's load runs the two products on it once; the
// reset runs them round after round on the same buffers.

#include <cstdint>
#include <memory>

#include "gpu/gpu_load.h"
#include "gpu/host_array.h"
#include "gpu/platform/metal.h"

namespace ventra {

// The largest n whose load, A and C of n × n float32 each, fits in `bytes` of device memory.
std::int64_t largestLoadSize(std::uint64_t bytes);

class GPUWorkload {
 public:
  // Makes everything, reporting the fill of the host array to `observer`; at the first step
  // that yields nothing it stops and tells the observer which (ready() is then false). A
  // negative n, or one whose n × n × 4 bytes do not fit, makes nothing.
  GPUWorkload(std::int64_t n, GPULoadObserver& observer);
  bool ready() const { return ready_; }
  std::int64_t n() const { return n_; }
  // A command buffer holding the product C = A × A `times` times, ready to commit. The first
  // one is the command buffer made with the queue, in the load's order.
  std::shared_ptr<gpu::platform::CommandBuffer> encode(int times);
  gpu::platform::Buffer& left() { return *bufferA_; }
  gpu::platform::Buffer& result() { return *bufferC_; }
  const gpu::platform::Device& device() const { return *device_; }

 private:
  bool prepare(GPULoadObserver& observer);

  std::int64_t n_;
  bool ready_ = false;
  std::shared_ptr<gpu::platform::Device> device_;
  HostArray ones_;
  std::shared_ptr<gpu::platform::CommandQueue> queue_;
  std::shared_ptr<gpu::platform::CommandBuffer> first_;
  std::shared_ptr<gpu::platform::Buffer> bufferA_, bufferC_;
  std::shared_ptr<const gpu::platform::MatrixDescriptor> descriptor_;
  std::shared_ptr<gpu::platform::Matrix> matrixA_, matrixC_;
  std::shared_ptr<gpu::platform::MatrixMultiplication> kernel_;
};

// Reports the phase's end when the scope ends, whichever way it ends.
class PhaseScope {
 public:
  PhaseScope(GPULoadObserver& observer, GPULoadObserver::Phase phase)
      : observer_(observer), phase_(phase) {
    observer_.phaseStarted(phase_);
  }
  ~PhaseScope() { observer_.phaseEnded(phase_); }
  PhaseScope(const PhaseScope&) = delete;
  PhaseScope& operator=(const PhaseScope&) = delete;

 private:
  GPULoadObserver& observer_;
  GPULoadObserver::Phase phase_;
};

}  // namespace ventra
