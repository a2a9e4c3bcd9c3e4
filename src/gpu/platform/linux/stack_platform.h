#pragma once

// What each Linux stack's platform (OpenCL, Vulkan) is built on: its options, shared with
// everything it makes, and the last problem it met, kept for the port's problem().

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "gpu/platform/backend.h"
#include "gpu/platform/linux/backend_options.h"
#include "gpu/platform/linux/executable_memory.h"

namespace ventra::gpu::linux_gpu {

class StackPlatform : public platform::GPUPlatform {
 public:
  explicit StackPlatform(BackendOptions options)
      : options_(std::make_shared<const BackendOptions>(std::move(options))) {}
  std::optional<std::string> problem() final {
    std::lock_guard lock(problemMutex_);
    return problem_;
  }

 protected:
  // The port's answer, null, with why kept for problem().
  std::nullptr_t failed(std::string why) {
    std::lock_guard lock(problemMutex_);
    problem_ = std::move(why);
    return nullptr;
  }
  // Whether to look for CPU devices (`named`: "PoCL", "lavapipe"): where the options ask for
  // them and this process may run the code their compilers write; said where it may not.
  bool offersCpuDevices(const char* named) {
    if (!options_->includeCpuDevices) return false;
    auto refusal = whyWrittenCodeCannotRun();
    if (refusal) failed(std::string("CPU devices (") + named + ") left out: " + *refusal);
    return !refusal;
  }

  const std::shared_ptr<const BackendOptions> options_;

 private:
  std::mutex problemMutex_;
  std::optional<std::string> problem_;
};

}  // namespace ventra::gpu::linux_gpu
