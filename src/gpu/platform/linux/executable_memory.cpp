#include "gpu/platform/linux/executable_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ventra::gpu::linux_gpu {

// What a JIT does: write code into a page, then make the page executable.
std::optional<std::string> whyWrittenCodeCannotRun() {
  const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* page = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) return std::nullopt;  // no memory at all: the device says so itself
  const bool refused = mprotect(page, size, PROT_READ | PROT_EXEC) != 0;
  const int error = errno;
  munmap(page, size);
  if (!refused) return std::nullopt;
  return std::string("this process may not make memory it wrote executable (") +
         std::strerror(error) +
         ": systemd's MemoryDenyWriteExecute=yes or a filter like it), which a CPU device's "
         "compiler needs; a GPU's driver does not";
}

}  // namespace ventra::gpu::linux_gpu
