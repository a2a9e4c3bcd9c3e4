#pragma once

// The load's host array: n × n floats, every one written, released with the object.

#include <cstddef>

#include "gpu/platform/host_memory.h"

namespace ventra {

class HostArray {
 public:
  HostArray() = default;
  // `count` elements, each set to `value`; an empty array where the memory cannot be had.
  static HostArray filled(std::size_t count, float value);
  const float* data() const { return static_cast<const float*>(memory_.get()); }
  std::size_t size() const { return size_; }

 private:
  gpu::platform::HostMemory memory_;
  std::size_t size_ = 0;
};

}  // namespace ventra
