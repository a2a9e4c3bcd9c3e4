#include "gpu/gpu_load.h"

#include <limits>

#include "gpu/host_array.h"
#include "gpu/platform/metal.h"

namespace ventra {
namespace pf = gpu::platform;
using Phase = GPULoadObserver::Phase;

namespace {

class NoObserver : public GPULoadObserver {};

// Reports the phase's end when the scope ends, whichever way it ends.
class PhaseScope {
 public:
  PhaseScope(GPULoadObserver& observer, Phase phase) : observer_(observer), phase_(phase) {
    observer_.phaseStarted(phase_);
  }
  ~PhaseScope() { observer_.phaseEnded(phase_); }
  PhaseScope(const PhaseScope&) = delete;
  PhaseScope& operator=(const PhaseScope&) = delete;

 private:
  GPULoadObserver& observer_;
  Phase phase_;
};

bool sizeFits(std::int64_t n) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  return n >= 0 && (n == 0 || n <= kMax / n / 4);
}

}  // namespace

const char* phaseName(Phase phase) {
  switch (phase) {
    case Phase::fill:
      return "fill";
    case Phase::encode:
      return "encode";
    case Phase::commit:
      return "commit";
    case Phase::wait:
      return "wait";
  }
  return "?";
}

void runGPULoad(std::int64_t n, GPULoadObserver* observerOrNull) {
  NoObserver none;
  GPULoadObserver& observer = observerOrNull ? *observerOrNull : none;
  if (!sizeFits(n)) return observer.gaveUp("matrix size");
  auto device = pf::MTLCreateSystemDefaultDevice();
  if (!device) return observer.gaveUp("default device");
  const auto size = static_cast<std::uint64_t>(n);
  HostArray ones;
  {
    PhaseScope scope(observer, Phase::fill);
    ones = HostArray::filled(size * size, 1.0f);
  }
  if (size > 0 && !ones.data()) return observer.gaveUp("host array");
  auto queue = device->newCommandQueue();
  if (!queue) return observer.gaveUp("command queue");
  auto commandBuffer = queue->commandBuffer();
  if (!commandBuffer) return observer.gaveUp("command buffer");
  const auto rowBytes = size * 4;
  const auto length = size * rowBytes;
  auto bufferA = device->newBufferWithBytes(ones.data(), length, pf::MTLResourceStorageModeManaged);
  if (!bufferA) return observer.gaveUp("buffer A");
  auto bufferC = device->newBufferWithLength(length, pf::MTLResourceStorageModeManaged);
  if (!bufferC) return observer.gaveUp("buffer C");
  auto descriptor = pf::matrixDescriptorWithRows(size, size, rowBytes, pf::MPSDataTypeFloat32);
  auto matrixA = pf::initMatrixWithBuffer(bufferA, descriptor);
  auto matrixC = pf::initMatrixWithBuffer(bufferC, descriptor);
  auto kernel = device->newMatrixMultiplication(size, size, size);
  if (!descriptor || !matrixA || !matrixC || !kernel) return observer.gaveUp("matrix kernel");
  {
    PhaseScope scope(observer, Phase::encode);
    kernel->encodeToCommandBuffer(*commandBuffer, *matrixA, *matrixA, *matrixC);
    kernel->encodeToCommandBuffer(*commandBuffer, *matrixA, *matrixA, *matrixC);
  }
  {
    PhaseScope scope(observer, Phase::commit);
    commandBuffer->commit();
  }
  {
    PhaseScope scope(observer, Phase::wait);
    commandBuffer->waitUntilCompleted();
  }
  observer.completed(*commandBuffer, *bufferA, *bufferC);
}

}  // namespace ventra
