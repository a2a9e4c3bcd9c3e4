#include "gpu/platform/host_memory.h"

#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ventra::gpu::platform {

#if defined(__linux__)

HostMemory allocateHostMemory(std::size_t bytes) {
  if (bytes == 0) return HostMemory(nullptr, {0});
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  return memory == MAP_FAILED ? HostMemory(nullptr, {0}) : HostMemory(memory, {bytes});
}

void HostMemoryRelease::operator()(void* memory) const {
  munmap(memory, bytes);
}

#else

HostMemory allocateHostMemory(std::size_t bytes) {
  if (bytes == 0) return HostMemory(nullptr, {0});
  return HostMemory(::operator new(bytes, std::nothrow), {bytes});
}

void HostMemoryRelease::operator()(void* memory) const {
  ::operator delete(memory);
}

#endif

}  // namespace ventra::gpu::platform
