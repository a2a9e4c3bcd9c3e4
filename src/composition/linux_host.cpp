#include "composition/linux_host.h"

#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "app/controller.h"
#include "files/small_files.h"
#include "sensors/temperature_sensors.h"
#include "smc/platform/linux/applesmc.h"

namespace ventra {
namespace lg = gpu::linux_gpu;

namespace {

std::optional<lg::Stack> stackNamed(const std::string& value, const std::string& where,
                                    std::string& problem) {
  auto choice = parseGpuChoice(value);
  if (!choice || *choice == GpuChoice::fake) {
    problem =
        where + " = \"" + value + "\" names no GPU stack (vulkan, opencl or auto); the app chooses";
    return std::nullopt;
  }
  return stackOf(*choice);
}

// The shader's tile tuned on this machine by `ventractl gpu tune`, where the caller names no store.
lg::BackendOptions withTunedTiles(lg::BackendOptions backend) {
  if (backend.tileStore.empty()) backend.tileStore = hostTileStore();
  return backend;
}

// The catalogue's keys are sp78 temperatures on every SMC that has them.
bool knownTemperatureKey(FourCharCode code) {
  return TemperatureSensors::byCode().contains(code);
}

}  // namespace

std::optional<lg::Stack> userPinnedStack(const std::filesystem::path& defaultsFile,
                                         std::string& problem) {
  if (const char* variable = std::getenv("VENTRA_GPU"); variable && *variable)
    return stackNamed(variable, "VENTRA_GPU", problem);
  if (defaultsFile.empty()) return std::nullopt;
  auto stored = app::linux_desktop::readStoredText(defaultsFile, "GPUBackend", problem);
  return stored ? stackNamed(*stored, defaultsFile.string() + ": GPUBackend", problem)
                : std::nullopt;
}

std::optional<lg::Stack> stackOf(GpuChoice choice) {
  switch (choice) {
    case GpuChoice::automatic:
      return std::nullopt;
    case GpuChoice::vulkan:
      return lg::Stack::vulkan;
    case GpuChoice::opencl:
      return lg::Stack::opencl;
    case GpuChoice::fake:
      break;
  }
  throw std::logic_error("the simulated card is no GPU stack of this host");
}

std::filesystem::path hostTileStore() {
  auto cache = files::userCacheDirectory();
  return cache.empty() ? cache : cache / "ventra" / "tiles.json";
}

std::shared_ptr<gpu::platform::GPUPlatform> linuxGpuStack(lg::Stack stack,
                                                          lg::BackendOptions backend) {
  return lg::stackPlatform(stack, withTunedTiles(std::move(backend)));
}

std::shared_ptr<gpu::platform::GPUPlatform> linuxGpuPlatform(LinuxHostOptions options) {
  options.gpus.backend = withTunedTiles(std::move(options.gpus.backend));
  if (options.gpus.stack) return lg::linuxGpus(options.gpus.stack, options.gpus.backend);
  // Read when the GPUs are first asked about: a launch that never gets there reads nothing.
  auto defaults = options.desktopPaths.defaultsFile.empty() ? app::linux_desktop::userDefaultsFile()
                                                            : options.desktopPaths.defaultsFile;
  return lg::onFirstUse([defaults, backend = options.gpus.backend, program = options.programName] {
    std::string problem;
    auto pinned = userPinnedStack(defaults, problem);
    if (!problem.empty()) std::cerr << program << ": " << problem << "\n";
    return lg::linuxGpus(pinned, backend);
  });
}

Composition linuxHost(LinuxHostOptions options) {
  auto applesmc = options.applesmcDirectory.empty() ? smc::linux_backend::defaultDevicePath()
                                                    : options.applesmcDirectory;
  Composition composition;
  composition.smc = smc::linux_backend::hostService(applesmc, knownTemperatureKey);
  composition.gpu = linuxGpuPlatform(options);
  if (options.desktop)
    composition.desktop = std::make_shared<app::platform::Desktop>(
        app::linux_desktop::makeLinuxDesktop(std::move(options.desktopPaths), {},
                                             std::move(options.settingProblems)),
        app::desktopRules());
  return composition;
}

}  // namespace ventra
