#include <unistd.h>

#include <iostream>

#include "composition/linux_host.h"
#include "gpu/platform/linux/stacks.h"
#include "gpu/platform/tile/tile_store.h"
#include "host/gpu_access.h"
#include "host/host.h"
#include "smc/platform/linux/applesmc.h"
#include "smc/utf8.h"

namespace ventra::ctl {
namespace {
namespace lg = gpu::linux_gpu;

LinuxGpus chosenGpus(const Options& options) {
  LinuxGpus gpus;
  gpus.backend = lg::BackendOptions::withCpuDevices(options.allowCpu);
  // The simulated card takes the host's place where a command chooses it (context.cpp).
  if (options.gpu != GpuChoice::fake) gpus.stack = stackOf(options.gpu);
  return gpus;
}

// The applesmc driver's directory: --applesmc DIR, else its usual place.
std::filesystem::path driverDirectory(const Options& options) {
  return options.applesmcDirectory ? std::filesystem::path(*options.applesmcDirectory)
                                   : smc::linux_backend::defaultDevicePath();
}

}  // namespace

Composition hostComposition(const Options& options) {
  LinuxHostOptions host;
  if (options.applesmcDirectory) host.applesmcDirectory = *options.applesmcDirectory;
  host.gpus = chosenGpus(options);
  host.programName = "ventractl";
  // check reads DelayAtLogin as the app does, and says what the app keeps to itself.
  host.settingProblems = [](const std::string& problem) {
    std::cerr << "ventractl: " << problem << "; the app uses the default\n";
  };
  return linuxHost(std::move(host));
}

std::shared_ptr<gpu::platform::GPUPlatform> hostGpuPlatform(const Options& options) {
  LinuxHostOptions host;
  host.gpus = chosenGpus(options);
  host.programName = "ventractl";
  return linuxGpuPlatform(std::move(host));
}

std::vector<std::shared_ptr<gpu::platform::GPUPlatform>> listedGpuStacks(const Options& options) {
  LinuxGpus gpus = chosenGpus(options);
  if (gpus.stack) return {linuxGpuStack(*gpus.stack, gpus.backend)};
  return {linuxGpuStack(lg::Stack::vulkan, gpus.backend),
          linuxGpuStack(lg::Stack::opencl, gpus.backend)};
}

std::optional<std::string> hostUnavailable() {
  return std::nullopt;
}

std::vector<FourCharCode> driverTemperatureKeys(const Options& options) {
  if (options.profile) return {};
  return smc::linux_backend::labelledTemperatureKeys(driverDirectory(options));
}

std::string noHostSmc(const Options& options) {
  const auto driver = driverDirectory(options);
  std::error_code error;
  if (std::filesystem::exists(driver, error))
    return driver.string() + " is not a directory: --applesmc names the driver's directory";
  return "the SMC cannot be reached: the applesmc driver is not loaded (" + driver.string() +
         " is missing): load it with 'sudo modprobe applesmc'. Use --profile FILE to work with an "
         "emulated SMC.";
}

std::optional<std::string> whyTheSmcRefused(const Options& options) {
  const auto driver = driverDirectory(options);
  const auto count = driver / "key_count";
  std::error_code error;
  const auto status = std::filesystem::status(count, error);
  if (!std::filesystem::exists(status))
    return driver.string() + " has no key_count: it is not the applesmc driver's directory";
  if (!std::filesystem::is_regular_file(status))
    return count.string() + " is not a regular file: it is not the applesmc driver's";
  if (std::filesystem::file_size(count, error) > 4096)
    return count.string() + " is larger than any driver file: it is not the applesmc driver's";
  return "reading " + count.string() + " failed: the driver or the SMC did not answer ('sudo " +
         "dmesg' may say why)";
}

namespace {

// The CPU devices a stack has, asked only where it gave no GPU: with them, its driver is there.
std::vector<std::string> cpuDevicesOf(lg::Stack stack) {
  std::vector<std::string> names;
  for (const auto& device :
       linuxGpuStack(stack, lg::BackendOptions::withCpuDevices(true))->devices())
    names.push_back(device.name);
  return names;
}

}  // namespace

// What each stack had to say, and what would bring a device: the packages where no driver
// answered, the card's kernel driver where only CPU devices did.
std::string noHostGpus(const Options& options) {
  LinuxGpus gpus = chosenGpus(options);
  std::string message = "no GPU found";
  bool loaded = true;        // the stacks asked had their modules and started
  bool driverThere = false;  // a stack's driver answered, with CPU devices alone
  for (lg::Stack stack : {lg::Stack::vulkan, lg::Stack::opencl}) {
    if (gpus.stack && *gpus.stack != stack) continue;
    auto error = lg::stackError(stack);
    if (!error) error = linuxGpuStack(stack, gpus.backend)->problem();
    loaded = loaded && !error;
    std::string found = error ? *error : "no device";
    if (!error && !options.allowCpu)
      if (auto cpus = cpuDevicesOf(stack); !cpus.empty()) {
        found = "only CPU devices (" + utf8::escapeControls(cpus.front()) + "), left out";
        driverThere = true;
      }
    message += std::string("; ") + (stack == lg::Stack::vulkan ? "Vulkan: " : "OpenCL: ") + found;
  }
  if (loaded) {
    if (auto problem = gpuAccessProblem()) return message + ". " + *problem;
    message += driverThere
                   ? ". The drivers answer, but no GPU does: the card needs its kernel driver "
                     "(amdgpu for the RX 580) and a render node in /dev/dri"
                   : ". Install a driver: mesa-vulkan-drivers (Vulkan) or mesa-opencl-icd (OpenCL)";
  }
  if (!options.allowCpu) message += "; --allow-cpu also uses CPU devices (lavapipe, PoCL)";
  return message;
}

namespace {

bool renderNodeThere() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error))
    if (entry.path().filename().string().starts_with("renderD")) return true;
  return false;
}

}  // namespace

std::vector<std::string> missingHardware(const Options& options) {
  std::vector<std::string> missing;
  std::error_code error;
  if (!options.profile) {
    const auto driver = driverDirectory(options);
    if (!std::filesystem::exists(driver / "key_count", error))
      missing.push_back(
          "the SMC driver (no " + driver.string() +
          (options.applesmcDirectory
               ? "/key_count: not the applesmc driver's directory)"
               : ": load it with 'sudo modprobe applesmc', and at every boot with 'echo applesmc "
                 "| sudo tee /etc/modules-load.d/applesmc.conf')"));
  }
  if (options.gpu != GpuChoice::fake && !options.allowCpu && !renderNodeThere())
    missing.push_back(
        "a GPU render node (no /dev/dri/renderD*: the card's kernel driver, amdgpu, has not "
        "started; 'lspci -k' shows which driver holds the card, and one bound to vfio-pci for a "
        "virtual machine cannot be used here)");
  return missing;
}

void forgetTunedTile(const gpu::platform::Device& device, std::ostream& err) {
  if (device.details().kernelSource != gpu::platform::KernelSource::tuned) return;
  const auto forgetting = gpu::tile::forgetStoredTile(hostTileStore(), ::geteuid(), device.name(),
                                                      device.details().driver);
  err << "ventractl: the tile tuned for this device gave wrong results: forgotten"
      << (forgetting.problem ? " (" + *forgetting.problem + ")" : "")
      << "; the next load uses the default\n";
}

std::string builtBackends() {
  return "applesmc, Vulkan, OpenCL (CLBlast), Linux desktop, emulator, fake GPU, simulator";
}

}  // namespace ventra::ctl
