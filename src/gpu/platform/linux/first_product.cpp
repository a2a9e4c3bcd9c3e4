#include "gpu/platform/linux/first_product.h"

namespace ventra::gpu::linux_gpu {

std::optional<platform::MatrixProduct> firstProduct(platform::GPUPlatform& platform,
                                                    std::size_t device) {
  const float zero = 0;
  auto left = platform.allocate(device, sizeof zero, &zero);
  auto result = platform.allocate(device, sizeof zero, &zero);
  if (!left || !result) return std::nullopt;
  return platform::MatrixProduct{left, left,        result,      1,          1,
                                 1,    sizeof zero, sizeof zero, sizeof zero};
}

}  // namespace ventra::gpu::linux_gpu
