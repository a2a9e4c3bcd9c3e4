#pragma once

// A recording GPU backend for tests and the simulator: every call with its arguments, in order;
// configurable devices; failure at any step; real products at small sizes.

#include <functional>
#include <map>
#include <memory>
#include <optional>
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
  FakeGPUOptions() = default;
  explicit FakeGPUOptions(std::vector<DeviceDescription> theDevices,
                          std::set<std::string> failingCalls = {}, std::uint64_t computeLimit = 0)
      : devices(std::move(theDevices)),
        failing(std::move(failingCalls)),
        computeLimitBytes(computeLimit) {}

  std::vector<DeviceDescription> devices;  // the first is the default device
  // Calls that yield nothing: "defaultDevice", "copy" (a buffer with the host's bytes),
  // "allocate" (an uninitialised buffer), "submit". A buffer larger than the device's working
  // set yields nothing too.
  std::set<std::string> failing;
  // The device takes this many submissions, then refuses every later one (a card that fails
  // part-way through a long load).
  std::optional<int> submitsBeforeFailure;
  // Buffers up to this many bytes hold real data and products are computed on the host.
  std::uint64_t computeLimitBytes = 0;
  // How long products keep the device busy (2 × rows × columns × interior operations each, at
  // this rate), spent through `passTime` on a simulation's clock while the caller waits. Where
  // the rate is 0 the work is done the moment it is submitted.
  double flopsPerSecond = 0;
  std::function<void(double seconds)> passTime;
  // What the device reports of its temperature, asked each time; nothing where unset.
  std::function<std::optional<platform::DeviceTemperature>()> temperature;
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
  std::optional<platform::DeviceTemperature> temperature(std::size_t device) override;

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
