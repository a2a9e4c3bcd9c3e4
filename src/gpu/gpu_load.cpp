#include "gpu/gpu_load.h"

#include "gpu/gpu_workload.h"

namespace ventra {
namespace pf = gpu::platform;
using Phase = GPULoadObserver::Phase;

namespace {

class NoObserver : public GPULoadObserver {};

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
  GPUWorkload workload(n, observer);
  if (!workload.ready()) return;
  std::shared_ptr<pf::CommandBuffer> commandBuffer;
  {
    PhaseScope scope(observer, Phase::encode);
    commandBuffer = workload.encode(2);
  }
  {
    PhaseScope scope(observer, Phase::commit);
    commandBuffer->commit();
  }
  {
    PhaseScope scope(observer, Phase::wait);
    commandBuffer->waitUntilCompleted();
  }
  observer.completed(*commandBuffer, workload.left(), workload.result());
}

}  // namespace ventra
