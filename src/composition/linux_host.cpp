#include "composition/linux_host.h"

#include "smc/platform/linux/applesmc.h"

namespace ventra {

Composition linuxHost(LinuxHostOptions options) {
  auto applesmc = options.applesmcDirectory.empty() ? smc::linux_backend::defaultDevicePath()
                                                    : options.applesmcDirectory;
  Composition composition;
  composition.smc = smc::linux_backend::hostService(applesmc);
  composition.gpu = gpu::linux_gpu::linuxGpus(options.gpus.stack, options.gpus.backend);
  if (options.desktop)
    composition.desktop = app::linux_desktop::makeLinuxDesktop(std::move(options.desktopPaths));
  return composition;
}

}  // namespace ventra
