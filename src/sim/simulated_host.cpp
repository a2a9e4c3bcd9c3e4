#include "sim/simulated_host.h"

#include "composition/emulated_smc.h"
#include "gpu/platform/fake/fake_gpu.h"
#include "sim/tracing.h"
#include "sim/tracing_desktop.h"

namespace ventra::sim {

Composition simulatedHost(const Scenario& scenario, Trace& trace,
                          std::shared_ptr<app::platform::DesktopBackend> desktop,
                          std::shared_ptr<gpu::platform::GPUPlatform> gpu) {
  auto smc = emulatedSmc(scenario.smc).composition.smc;
  if (!gpu)
    gpu = std::make_shared<gpu::fake::FakeGPU>(gpu::fake::FakeGPUOptions{scenario.gpus, {}, 0});
  return {smc ? tracingSMC(std::move(smc), trace) : nullptr, tracingGPU(std::move(gpu), trace),
          tracedDesktop(std::move(desktop), trace)};
}

}  // namespace ventra::sim
