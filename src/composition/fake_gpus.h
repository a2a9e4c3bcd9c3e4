#pragma once

// A GPU platform for trying the GPU commands anywhere: one AMD Radeon RX 580 8 GB (the card the
// app acts on) that records its work and computes products up to 64 MiB, one per process.

#include <memory>

#include "gpu/platform/backend.h"

namespace ventra {

std::shared_ptr<gpu::platform::GPUPlatform> recordingRx580();

}  // namespace ventra
