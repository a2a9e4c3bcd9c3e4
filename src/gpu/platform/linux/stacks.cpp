#include "gpu/platform/linux/stacks.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <tuple>

#include "files/trusted_path.h"
#include "gpu/platform/linux/module.h"

namespace ventra::gpu::linux_gpu {
namespace pf = platform;
namespace fs = std::filesystem;
namespace {

const ModuleDirectories kThisBuild{VENTRA_BUILD_TREE, VENTRA_MODULES_BUILT,
                                   VENTRA_MODULES_FROM_BIN};

std::mutex moduleMutex;
std::map<Stack, std::string> moduleErrors;

const char* moduleFile(Stack stack) {
  return stack == Stack::vulkan ? "libventra-vulkan.so" : "libventra-opencl.so";
}

bool within(const fs::path& path, const fs::path& directory) {
  auto [end, unused] = std::mismatch(directory.begin(), directory.end(), path.begin(), path.end());
  return end == directory.end();
}

std::optional<fs::path> executablePath() {
  std::error_code error;
  auto self = fs::read_symlink("/proc/self/exe", error);
  if (error || !self.is_absolute()) return std::nullopt;
  return self;
}

// The module's entry, or nothing with the reason kept for stackError.
ModuleEntry loadEntry(Stack stack) {
  std::lock_guard lock(moduleMutex);
  auto fail = [&](std::string why) {
    moduleErrors[stack] = std::move(why);
    return nullptr;
  };
  auto executable = executablePath();
  auto directory = executable ? moduleDirectoryFor(*executable, kThisBuild) : std::nullopt;
  if (!directory)
    return fail(std::string("the ") + stackName(stack) +
                " backend is not loaded: this program's own path is unknown (/proc/self/exe "
                "cannot be read), and modules are loaded only from beside it");
  const fs::path path = *directory / moduleFile(stack);
  std::error_code error;
  if (!fs::is_regular_file(path, error))
    return fail(std::string("the ") + stackName(stack) + " backend is not installed (no " +
                path.string() + ")");
  if (auto why = files::whyNotTrusted(path, ::geteuid()))
    return fail(std::string("the ") + stackName(stack) + " backend " + path.string() +
                " is not loaded: " + *why +
                " (a module loads only from where no one but root or you can change it)");
  // Never unloaded: the objects it makes live as long as the process.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module)
    return fail(std::string("cannot load the ") + stackName(stack) + " backend: " + dlerror());
  auto entry = reinterpret_cast<ModuleEntry>(dlsym(module, VENTRA_GPU_MODULE_ENTRY));
  if (!entry) return fail(path.string() + " is not one of Ventra's GPU backends");
  return entry;
}

// Stands in for a platform until the first question about devices, then makes it and asks it.
// Memory and work come only for devices it reported, so it is made by the time they are asked
// for.
class OnFirstUse final : public pf::GPUPlatform {
 public:
  explicit OnFirstUse(std::function<std::shared_ptr<pf::GPUPlatform>()> make)
      : make_(std::move(make)) {}
  std::vector<pf::DeviceFacts> devices() override {
    auto platform = made();
    return platform ? platform->devices() : std::vector<pf::DeviceFacts>{};
  }
  std::optional<pf::DeviceFacts> defaultDevice() override {
    auto platform = made();
    return platform ? platform->defaultDevice() : std::nullopt;
  }
  std::shared_ptr<pf::DeviceMemory> allocate(std::size_t device, std::uint64_t length,
                                             const void* contents) override {
    auto platform = made();
    return platform ? platform->allocate(device, length, contents) : nullptr;
  }
  std::shared_ptr<pf::Submission> submit(std::size_t device,
                                         std::vector<pf::MatrixProduct> products) override {
    auto platform = made();
    return platform ? platform->submit(device, std::move(products)) : nullptr;
  }
  void prepareProducts(std::size_t device) override {
    if (auto platform = made()) platform->prepareProducts(device);
  }
  std::optional<pf::DeviceTemperature> temperature(std::size_t device) override {
    auto platform = made();
    return platform ? platform->temperature(device) : std::nullopt;
  }
  std::optional<std::string> problem() override {
    auto platform = made();
    return platform ? platform->problem() : std::nullopt;
  }

 private:
  const std::shared_ptr<pf::GPUPlatform>& made() {
    std::call_once(once_, [this] { platform_ = make_(); });
    return platform_;
  }

  std::function<std::shared_ptr<pf::GPUPlatform>()> make_;
  std::once_flag once_;
  std::shared_ptr<pf::GPUPlatform> platform_;
};

std::shared_ptr<pf::GPUPlatform> loadStack(Stack stack, const BackendOptions& options) {
  std::shared_ptr<pf::GPUPlatform> platform;
  if (ModuleEntry entry = loadEntry(stack)) entry(&options, &platform);
  return platform;
}

}  // namespace

const char* stackName(Stack stack) {
  return stack == Stack::vulkan ? "vulkan" : "opencl";
}

std::optional<Stack> parseStack(std::string_view name) {
  if (name == "vulkan") return Stack::vulkan;
  if (name == "opencl") return Stack::opencl;
  return std::nullopt;
}

std::optional<fs::path> moduleDirectoryFor(const fs::path& executable,
                                           const ModuleDirectories& directories) {
  if (!executable.is_absolute()) return std::nullopt;
  const fs::path self = executable.lexically_normal();
  if (directories.buildTree.is_absolute() && within(self, directories.buildTree.lexically_normal()))
    return directories.built;
  return (self.parent_path() / directories.installedFromBin).lexically_normal();
}

std::shared_ptr<pf::GPUPlatform> stackPlatform(Stack stack, const BackendOptions& options) {
  // Mesa's rusticl offers the card only when asked to, and Clover is gone from newer Mesa.
  if (stack == Stack::opencl) setenv("RUSTICL_ENABLE", "radeonsi", 0);
  const bool hooked = options.onSubmission || options.onValidationMessage || options.meter ||
                      options.validate || options.tile;
  auto make = [stack, options] { return loadStack(stack, options); };
  if (hooked) return onFirstUse(make);
  static std::mutex mutex;
  static std::map<std::tuple<Stack, bool, std::uint64_t, std::uint64_t, std::uint64_t, std::string>,
                  std::shared_ptr<pf::GPUPlatform>>
      made;
  std::lock_guard lock(mutex);
  auto& platform =
      made[{stack, options.includeCpuDevices, options.maxFlopsPerSubmission,
            options.extraMemoryBytes, options.maxBindingBytes, options.tileStore.string()}];
  if (!platform) platform = onFirstUse(make);
  return platform;
}

std::optional<std::string> stackError(Stack stack) {
  std::lock_guard lock(moduleMutex);
  auto found = moduleErrors.find(stack);
  return found == moduleErrors.end() ? std::nullopt : std::optional(found->second);
}

std::shared_ptr<pf::GPUPlatform> onFirstUse(
    std::function<std::shared_ptr<pf::GPUPlatform>()> make) {
  return std::make_shared<OnFirstUse>(std::move(make));
}

std::shared_ptr<pf::GPUPlatform> linuxGpus(std::optional<Stack> pinned,
                                           const BackendOptions& options) {
  if (pinned) return stackPlatform(*pinned, options);
  return onFirstUse([vulkan = stackPlatform(Stack::vulkan, options),
                     opencl = stackPlatform(Stack::opencl, options)] {
    return vulkan->defaultDevice() ? vulkan : opencl;
  });
}

}  // namespace ventra::gpu::linux_gpu
