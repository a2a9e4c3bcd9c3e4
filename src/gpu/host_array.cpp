#include "gpu/host_array.h"

#include <algorithm>
#include <limits>

namespace ventra {

HostArray HostArray::filled(std::size_t count, float value) {
  HostArray array;
  if (count == 0 || count > std::numeric_limits<std::size_t>::max() / sizeof(float)) return array;
  array.memory_ = gpu::platform::allocateHostMemory(count * sizeof(float));
  if (!array.memory_) return array;
  std::fill_n(static_cast<float*>(array.memory_.get()), count, value);
  array.size_ = count;
  return array;
}

}  // namespace ventra
