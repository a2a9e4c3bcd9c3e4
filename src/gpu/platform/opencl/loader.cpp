#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "gpu/platform/opencl/module.h"

namespace ventra::gpu::opencl {
namespace pf = platform;
namespace {

std::mutex moduleMutex;
std::optional<std::string> moduleError;

std::filesystem::path executableDirectory() {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

// Installed: beside the executable's tree (bin/../lib/ventra). Built: where the build put it.
std::vector<std::filesystem::path> moduleCandidates() {
  return {executableDirectory() / VENTRA_OPENCL_MODULE_RELATIVE, VENTRA_OPENCL_MODULE_BUILT};
}

ModuleEntry loadModule() {
  std::lock_guard lock(moduleMutex);
  std::string tried;
  for (const auto& path : moduleCandidates()) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
      tried += " ";
      tried += path.string();
      continue;
    }
    // Never unloaded: the objects it makes live as long as the process.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
      return moduleError = std::string("cannot load the OpenCL backend: ") + dlerror(), nullptr;
    auto entry = reinterpret_cast<ModuleEntry>(dlsym(module, VENTRA_OPENCL_MODULE_ENTRY));
    if (!entry) moduleError = path.string() + " is not Ventra's OpenCL backend";
    return entry;
  }
  moduleError = "the OpenCL backend is not installed (looked for" + tried + ")";
  return nullptr;
}

// Stands in for the backend until the first question about devices, then asks it.
class LazyOpenCLPlatform final : public pf::GPUPlatform {
 public:
  explicit LazyOpenCLPlatform(OpenCLOptions options) : options_(std::move(options)) {}
  std::vector<pf::DeviceFacts> devices() override {
    auto platform = backend();
    return platform ? platform->devices() : std::vector<pf::DeviceFacts>{};
  }
  std::optional<pf::DeviceFacts> defaultDevice() override {
    auto platform = backend();
    return platform ? platform->defaultDevice() : std::nullopt;
  }
  // Devices come only from the backend, so it is loaded by the time these are asked.
  std::shared_ptr<pf::DeviceMemory> allocate(std::size_t device, std::uint64_t length,
                                             const void* contents) override {
    auto platform = backend();
    return platform ? platform->allocate(device, length, contents) : nullptr;
  }
  std::shared_ptr<pf::Submission> submit(std::size_t device,
                                         std::vector<pf::MatrixProduct> products) override {
    auto platform = backend();
    return platform ? platform->submit(device, std::move(products)) : nullptr;
  }

 private:
  const std::shared_ptr<pf::GPUPlatform>& backend() {
    std::call_once(loaded_, [this] {
      if (ModuleEntry entry = loadModule()) entry(&options_, &backend_);
    });
    return backend_;
  }

  OpenCLOptions options_;
  std::once_flag loaded_;
  std::shared_ptr<pf::GPUPlatform> backend_;
};

}  // namespace

std::shared_ptr<pf::GPUPlatform> openclPlatform(OpenCLOptions options) {
  static std::mutex mutex;
  static std::map<std::pair<bool, std::uint64_t>, std::shared_ptr<pf::GPUPlatform>> made;
  std::lock_guard lock(mutex);
  setenv("RUSTICL_ENABLE", "radeonsi", 0);
  if (options.onSubmission) return std::make_shared<LazyOpenCLPlatform>(std::move(options));
  auto& platform = made[{options.includeCpuDevices, options.maxFlopsPerSubmission}];
  if (!platform) platform = std::make_shared<LazyOpenCLPlatform>(options);
  return platform;
}

std::optional<std::string> openclModuleError() {
  std::lock_guard lock(moduleMutex);
  return moduleError;
}

}  // namespace ventra::gpu::opencl
