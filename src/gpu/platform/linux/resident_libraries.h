#pragma once

// A GPU driver is a shared library that its loader (Vulkan's, OpenCL's ICD loader) may unload
// when the last object made with it goes. What the driver allocated for itself then stays behind
// with no library to name it, and a driver that takes other paths on another CPU leaves other
// things behind. The stacks keep every library loaded while they hold a driver in memory until
// the process ends, as they keep their own modules: a driver is set up once per process.

namespace ventra::gpu::linux_gpu {

// Marks every shared library loaded now so that nothing unloads it before the process ends.
void keepLoadedLibrariesResident();

}  // namespace ventra::gpu::linux_gpu
