#pragma once

// Host memory for the load's array, as fast to fill as the platform allows: on Linux an
// anonymous mapping whose pages the kernel provides up front (MAP_POPULATE), one call instead of
// a page fault for every 4 KiB written; elsewhere plain allocation.

#include <cstddef>
#include <memory>

namespace ventra::gpu::platform {

struct HostMemoryRelease {
  std::size_t bytes = 0;
  void operator()(void* memory) const;
};
using HostMemory = std::unique_ptr<void, HostMemoryRelease>;

// `bytes` of writable memory, contents unspecified; null where it cannot be had.
HostMemory allocateHostMemory(std::size_t bytes);

}  // namespace ventra::gpu::platform
