#pragma once

// Drivers that build a product's code at its first use (lavapipe compiles a pipeline's code at
// its first dispatch; CLBlast builds its GEMM program at its first call) spend seconds inside
// that product, more without a cache. A stack runs one tiny product when the load is made, so
// the load's first product is work like every other and a stop or a time limit holds from it.

#include <cstddef>
#include <optional>

#include "gpu/platform/backend.h"

namespace ventra::gpu::linux_gpu {

// A 1 × 1 product of zeros on `device`, its memory allocated; nothing where the device takes no
// memory (the load's own allocations then say why).
std::optional<platform::MatrixProduct> firstProduct(platform::GPUPlatform& platform,
                                                    std::size_t device);

}  // namespace ventra::gpu::linux_gpu
