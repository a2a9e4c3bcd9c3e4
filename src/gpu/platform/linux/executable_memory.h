#pragma once

// A CPU device (lavapipe, PoCL) compiles its kernels to machine code in memory and runs them from
// there. A process that may not make memory executable (systemd's MemoryDenyWriteExecute=yes, a
// seccomp filter like it, the kernel's per-process W^X) is killed by SIGSEGV at the device's first
// kernel, with nothing said. A GPU's driver compiles for the GPU and needs no such thing. The
// stacks ask beforehand, at the cost of one page, and leave such devices out saying why.

#include <optional>
#include <string>

namespace ventra::gpu::linux_gpu {

// Why this process cannot run code it has written; nothing where it can.
std::optional<std::string> whyWrittenCodeCannotRun();

}  // namespace ventra::gpu::linux_gpu
