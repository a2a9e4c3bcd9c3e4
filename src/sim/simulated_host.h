#pragma once

// The composition of a simulated host: the scenario's SMC on the emulator and its GPUs on the
// fake GPU (or a GPU platform the caller hands in) and the desktop over the backend the caller
// runs the app on (the virtual-clock one or a real one), each traced.

#include <memory>

#include "composition/composition.h"
#include "sim/scenario.h"
#include "sim/trace.h"

namespace ventra::sim {

Composition simulatedHost(const Scenario& scenario, Trace& trace,
                          std::shared_ptr<app::platform::DesktopBackend> desktop,
                          std::shared_ptr<gpu::platform::GPUPlatform> gpu = nullptr);

}  // namespace ventra::sim
