#pragma once

// Decorators that write SMC and GPU activity into a simulation's trace.

#include <memory>

#include "app/platform/desktop.h"
#include "gpu/platform/metal.h"
#include "sim/trace.h"
#include "smc/platform/service.h"

namespace ventra::sim {

// Records "smcOpen", "smcRead" (with the key) and "smcClose" around an SMC service.
std::shared_ptr<smc::platform::Service> tracingSMC(std::shared_ptr<smc::platform::Service> inner,
                                                   Trace& trace);

// A delivered notification's fields as every trace records them.
nlohmann::ordered_json notificationFields(const app::platform::UserNotification& notification);

// Records "gpuDevices" (with the count) and "gpuLoad" (with n) around a GPU platform.
std::shared_ptr<gpu::platform::GPUPlatform> tracingGPU(
    std::shared_ptr<gpu::platform::GPUPlatform> inner, Trace& trace);

}  // namespace ventra::sim
