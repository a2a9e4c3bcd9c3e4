#pragma once

// A recording GPU backend for tests and the simulator: every call with its arguments, in order;
// configurable devices; failure at any step; real products at small sizes.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gpu/platform/backend.h"

namespace ventra::gpu::fake {

struct DeviceDescription {
  std::string name;
  std::uint64_t workingSetBytes = 0;
};

struct FakeGPUOptions {
  std::vector<DeviceDescription> devices;  // the first is the default device
  // Calls that yield nothing: "defaultDevice", "copy" (a buffer with the host's bytes),
  // "allocate" (an uninitialised buffer), "submit". A buffer larger than the device's working
  // set yields nothing too.
  std::set<std::string> failing;
  // Buffers up to this many bytes hold real data and products are computed on the host.
  std::uint64_t computeLimitBytes = 0;
};

class FakeGPU final : public platform::GPUPlatform {
 public:
  explicit FakeGPU(FakeGPUOptions options);

  std::vector<platform::DeviceFacts> devices() override;
  std::optional<platform::DeviceFacts> defaultDevice() override;
  std::shared_ptr<platform::DeviceMemory> allocate(std::size_t device, std::uint64_t length,
                                                   const void* contents) override;
  std::shared_ptr<platform::Submission> submit(
      std::size_t device, std::vector<platform::MatrixProduct> products) override;

  // "name(arg, ...) -> result" per call, objects as "buffer#1", "work#1".
  const std::vector<std::string>& calls() const { return calls_; }
  // Buffers and submissions alive now: 0 once everything handed out has been released.
  int liveObjects() const { return *live_; }

 private:
  platform::DeviceFacts facts(std::size_t index) const;
  bool fails(const std::string& call) const { return options_.failing.contains(call); }
  std::string record(std::string call) { return calls_.emplace_back(std::move(call)); }

  FakeGPUOptions options_;
  std::vector<std::string> calls_;
  std::shared_ptr<int> live_ = std::make_shared<int>(0);
  std::map<std::string, int> ids_;
};

}  // namespace ventra::gpu::fake
