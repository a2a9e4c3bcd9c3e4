#pragma once

// A recording GPU for tests and the simulator: every call with its arguments, in order;
// configurable devices; failure at any step; real products at small sizes.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gpu/platform/metal.h"

namespace ventra::gpu::fake {

struct DeviceSpec {
  std::string name;
  std::uint64_t workingSetBytes = 0;
};

struct FakeGPUOptions {
  std::vector<DeviceSpec> devices;  // the first is the default device
  // Calls that yield nothing: "MTLCreateSystemDefaultDevice", "newCommandQueue", "commandBuffer",
  // "newBufferWithBytes", "newBufferWithPattern", "newBufferWithLength",
  // "newMatrixMultiplication".
  std::set<std::string> failing;
  // Buffers up to this many bytes hold real data and products are computed on the host.
  std::uint64_t computeLimitBytes = 0;
};

class FakeGPU : public platform::GPUPlatform, public std::enable_shared_from_this<FakeGPU> {
 public:
  explicit FakeGPU(FakeGPUOptions options);

  std::vector<std::shared_ptr<platform::Device>> copyAllDevices() override;
  std::shared_ptr<platform::Device> createSystemDefaultDevice() override;
  std::shared_ptr<const platform::MatrixDescriptor> matrixDescriptor(
      std::uint64_t rows, std::uint64_t columns, std::uint64_t rowBytes,
      std::uint32_t dataType) override;
  std::shared_ptr<platform::Matrix> matrix(
      std::shared_ptr<platform::Buffer> buffer,
      std::shared_ptr<const platform::MatrixDescriptor> descriptor) override;

  // "name(arg, ...)" per call, objects as "buffer#1", "commandBuffer#1" and so on.
  const std::vector<std::string>& calls() const { return calls_; }
  // Fake objects alive now: 0 once everything handed out has been released.
  int liveObjects() const { return *live_; }
  // Whether the last buffer made with a pattern was filled with the float 1.0.
  bool filledWithOnes() const { return filledWithOnes_; }

  // Used by the fake objects.
  void record(std::string call) { calls_.push_back(std::move(call)); }
  bool fails(const std::string& call) const { return options_.failing.contains(call); }
  const FakeGPUOptions& options() const { return options_; }
  std::shared_ptr<int> liveCounter() const { return live_; }
  int nextId(const std::string& kind) { return ++ids_[kind]; }
  void noteFill(bool ones) { filledWithOnes_ = ones; }

 private:
  std::shared_ptr<platform::Device> makeDevice(const DeviceSpec& description);

  FakeGPUOptions options_;
  std::vector<std::string> calls_;
  std::shared_ptr<int> live_ = std::make_shared<int>(0);
  std::map<std::string, int> ids_;
  bool filledWithOnes_ = false;
};

}  // namespace ventra::gpu::fake
