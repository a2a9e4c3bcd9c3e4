#pragma once

// The composition of a process on a Linux host: the kernel's applesmc driver, OpenCL GPUs and
// the Linux desktop.

#include <filesystem>

#include "app/platform/linux/linux_desktop.h"
#include "composition/composition.h"
#include "gpu/platform/opencl/opencl_gpu.h"

namespace ventra {

struct LinuxHostOptions {
  std::filesystem::path applesmcDirectory;  // default: the driver's usual place
  gpu::opencl::OpenCLOptions opencl;
  // Tools that never show anything leave the desktop out.
  bool desktop = true;
  app::linux_desktop::LinuxPaths desktopPaths;
};

Composition linuxHost(LinuxHostOptions options = {});

}  // namespace ventra
