#include "composition/linux_host.h"
#include "host.h"
#include "smc/platform/linux/applesmc.h"

namespace ventra::ctl {

Composition hostComposition(const Options& options) {
  LinuxHostOptions host;
  if (options.applesmcDirectory) host.applesmcDirectory = *options.applesmcDirectory;
  host.opencl = gpu::opencl::OpenCLOptions::withCpuDevices(options.allowCpu);
  return linuxHost(std::move(host));
}

std::optional<std::string> hostUnavailable() {
  return std::nullopt;
}

std::string noHostSmc(const Options& options) {
  auto driver = options.applesmcDirectory ? std::filesystem::path(*options.applesmcDirectory)
                                          : smc::linux_backend::defaultDevicePath();
  return "no SMC service on this host: the applesmc driver is not loaded (" + driver.string() +
         " is missing). Use --profile FILE to work with an emulated SMC.";
}

std::string noHostGpus(const Options& options) {
  if (auto error = gpu::opencl::openclModuleError()) return *error;
  return options.allowCpu ? "no OpenCL device found on this host"
                          : "no GPU found: this host has no OpenCL device of type GPU "
                            "(--allow-cpu also uses CPU devices such as PoCL)";
}

std::string builtBackends() {
  return "applesmc, OpenCL (CLBlast), Linux desktop, emulator, fake GPU, simulator";
}

}  // namespace ventra::ctl
