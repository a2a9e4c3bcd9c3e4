#pragma once

// The composition of a process on a Linux host: the kernel's applesmc driver, the GPUs of the
// Vulkan or OpenCL stack and the Linux desktop.

#include <filesystem>
#include <optional>

#include "app/platform/linux/linux_desktop.h"
#include "composition/composition.h"
#include "gpu/platform/linux/backend_options.h"
#include "gpu/platform/linux/stacks.h"

namespace ventra {

// Which stack serves the GPUs, and how.
struct LinuxGpus {
  // Nothing: Vulkan where it offers a device, else OpenCL.
  std::optional<gpu::linux_gpu::Stack> stack;
  gpu::linux_gpu::BackendOptions backend;
};

struct LinuxHostOptions {
  std::filesystem::path applesmcDirectory;  // default: the driver's usual place
  LinuxGpus gpus;
  // Tools that never show anything leave the desktop out.
  bool desktop = true;
  app::linux_desktop::LinuxPaths desktopPaths;
};

Composition linuxHost(LinuxHostOptions options = {});

}  // namespace ventra
