#pragma once

// The composition of a process on a Linux host: the kernel's applesmc driver, the GPUs of the
// Vulkan or OpenCL stack and the Linux desktop.

#include <filesystem>
#include <optional>

#include "app/platform/linux/linux_desktop.h"
#include "composition/composition.h"
#include "composition/gpu_choice.h"
#include "gpu/platform/linux/backend_options.h"
#include "gpu/platform/linux/stacks.h"

namespace ventra {

// Which stack serves the GPUs, and how.
struct LinuxGpus {
  // Nothing: the stack the user pinned (userPinnedStack), else Vulkan where it offers a device
  // and OpenCL where not.
  std::optional<gpu::linux_gpu::Stack> stack;
  gpu::linux_gpu::BackendOptions backend;
};

// The stack the user pinned: VENTRA_GPU, else GPUBackend in the [Ventra] group of defaults.ini,
// "vulkan" or "opencl" ("auto", empty or absent: the app chooses). A value naming no stack
// pins nothing, and `problem` says so.
std::optional<gpu::linux_gpu::Stack> userPinnedStack(const std::filesystem::path& defaultsFile,
                                                     std::string& problem);

struct LinuxHostOptions {
  std::filesystem::path applesmcDirectory;  // default: the driver's usual place
  LinuxGpus gpus;
  // Tools that never show anything leave the desktop out.
  bool desktop = true;
  app::linux_desktop::LinuxPaths desktopPaths;
  // Where the desktop says a stored setting it cannot use; the app says nothing.
  app::linux_desktop::SettingProblems settingProblems;
  // Names the program in the one line said about a GPUBackend or VENTRA_GPU that pins nothing.
  std::string programName = "ventra";
};

Composition linuxHost(LinuxHostOptions options = {});

// The GPUs alone, as linuxHost composes them, for a process that needs nothing else of the host.
std::shared_ptr<gpu::platform::GPUPlatform> linuxGpuPlatform(LinuxHostOptions options);

// One stack's GPUs, as linuxHost would compose that stack, for a listing of each stack on its own.
std::shared_ptr<gpu::platform::GPUPlatform> linuxGpuStack(gpu::linux_gpu::Stack stack,
                                                          gpu::linux_gpu::BackendOptions backend);

// Where `ventractl gpu tune` keeps the tiles it found and every Vulkan stack composed here reads
// them: $XDG_CACHE_HOME/ventra/tiles.json, else ~/.cache/ventra/tiles.json; empty without either.
std::filesystem::path hostTileStore();

// The stack a choice names: nothing for the app's own choice. The simulated card is no stack of
// this host: asking for it is a programming error (std::logic_error).
std::optional<gpu::linux_gpu::Stack> stackOf(GpuChoice choice);

}  // namespace ventra
