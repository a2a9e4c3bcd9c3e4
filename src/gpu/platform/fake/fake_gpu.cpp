#include "gpu/platform/fake/fake_gpu.h"

#include <cstdio>
#include <cstring>

namespace ventra::gpu::fake {
namespace pf = platform;

namespace {

// Counts itself among the live objects of its fake GPU.
class Tracked {
 public:
  explicit Tracked(std::shared_ptr<int> live) : live_(std::move(live)) { ++*live_; }
  ~Tracked() { --*live_; }
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;

 private:
  std::shared_ptr<int> live_;
};

// Contents, if any, as bytes written from the start or a pattern repeated over the whole buffer.
struct Contents {
  const void* bytes = nullptr;
  std::uint64_t patternLength = 0;  // 0: `bytes` holds the whole buffer
};

// Holds real data only up to the GPU's compute limit: a gigabyte buffer costs nothing here.
class FakeBuffer : public pf::Buffer, Tracked {
 public:
  FakeBuffer(FakeGPU& gpu, std::uint64_t length, Contents contents)
      : Tracked(gpu.liveCounter()), id_(gpu.nextId("buffer")), length_(length) {
    if (length > gpu.options().computeLimitBytes) return;
    data_.assign(length / 4, 0.0f);
    auto* target = reinterpret_cast<char*>(data_.data());
    if (contents.bytes && contents.patternLength == 0)
      std::memcpy(target, contents.bytes, data_.size() * 4);
    for (std::uint64_t at = 0; contents.patternLength && at < data_.size() * 4;
         at += contents.patternLength)
      std::memcpy(target + at, contents.bytes, contents.patternLength);
  }
  std::uint64_t length() const override { return length_; }
  bool readBytes(std::uint64_t offset, void* out, std::uint64_t count) override {
    if (data_.empty() || offset + count > data_.size() * 4) return false;
    std::memcpy(out, reinterpret_cast<const char*>(data_.data()) + offset, count);
    return true;
  }
  std::string label() const { return "buffer#" + std::to_string(id_); }
  std::vector<float>& data() { return data_; }

 private:
  int id_;
  std::uint64_t length_;
  std::vector<float> data_;  // empty above the compute limit
};

struct EncodedProduct {
  pf::Matrix left, right, result;
};

class FakeCommandBuffer : public pf::CommandBuffer, Tracked {
 public:
  explicit FakeCommandBuffer(FakeGPU& gpu)
      : Tracked(gpu.liveCounter()), gpu_(gpu), id_(gpu.nextId("commandBuffer")) {}
  void commit() override {
    gpu_.record("commit(" + label() + ")");
    for (auto& product : encoded_) compute(product);
  }
  void waitUntilCompleted() override { gpu_.record("waitUntilCompleted(" + label() + ")"); }
  std::optional<std::string> error() const override { return std::nullopt; }
  std::string label() const { return "commandBuffer#" + std::to_string(id_); }
  void add(EncodedProduct product) { encoded_.push_back(std::move(product)); }

 private:
  // result[i][j] = sum over k of left[i][k] * right[k][j], row-major with the descriptor's rows.
  static void compute(EncodedProduct& p) {
    auto& a = static_cast<FakeBuffer&>(*p.left.buffer).data();
    auto& b = static_cast<FakeBuffer&>(*p.right.buffer).data();
    auto& c = static_cast<FakeBuffer&>(*p.result.buffer).data();
    if (a.empty() || b.empty() || c.empty()) return;
    const std::uint64_t n = p.result.descriptor->rows, stride = p.result.descriptor->rowBytes / 4;
    std::vector<float> out(c.size(), 0.0f);
    for (std::uint64_t i = 0; i < n; ++i)
      for (std::uint64_t k = 0; k < n; ++k)
        for (std::uint64_t j = 0; j < n; ++j)
          out[i * stride + j] += a[i * stride + k] * b[k * stride + j];
    c = std::move(out);
  }

  FakeGPU& gpu_;
  int id_;
  std::vector<EncodedProduct> encoded_;
};

class FakeQueue : public pf::CommandQueue, Tracked {
 public:
  explicit FakeQueue(FakeGPU& gpu) : Tracked(gpu.liveCounter()), gpu_(gpu) {}
  std::shared_ptr<pf::CommandBuffer> commandBuffer() override {
    if (gpu_.fails("commandBuffer")) return gpu_.record("commandBuffer() -> null"), nullptr;
    auto buffer = std::make_shared<FakeCommandBuffer>(gpu_);
    gpu_.record("commandBuffer() -> " + buffer->label());
    return buffer;
  }

 private:
  FakeGPU& gpu_;
};

class FakeKernel : public pf::MatrixMultiplication, Tracked {
 public:
  explicit FakeKernel(FakeGPU& gpu) : Tracked(gpu.liveCounter()), gpu_(gpu) {}
  void encodeToCommandBuffer(pf::CommandBuffer& commandBuffer, const pf::Matrix& left,
                             const pf::Matrix& right, const pf::Matrix& result) override {
    auto& target = static_cast<FakeCommandBuffer&>(commandBuffer);
    auto name = [](const pf::Matrix& m) { return static_cast<FakeBuffer&>(*m.buffer).label(); };
    gpu_.record("encode(" + target.label() + ", " + name(left) + ", " + name(right) + ", " +
                name(result) + ")");
    target.add({left, right, result});
  }

 private:
  FakeGPU& gpu_;
};

bool floatOne(const void* pattern, std::uint64_t length) {
  float value = 0;
  if (length == sizeof value) std::memcpy(&value, pattern, sizeof value);
  return value == 1.0f;
}

class FakeDevice : public pf::Device, Tracked {
 public:
  FakeDevice(FakeGPU& gpu, DeviceSpec description)
      : Tracked(gpu.liveCounter()), gpu_(gpu), description_(std::move(description)) {}
  std::string name() const override { return gpu_.record("name"), description_.name; }
  std::uint64_t recommendedMaxWorkingSetSize() const override {
    return gpu_.record("recommendedMaxWorkingSetSize"), description_.workingSetBytes;
  }
  std::shared_ptr<pf::CommandQueue> newCommandQueue() override {
    gpu_.record("newCommandQueue");
    return gpu_.fails("newCommandQueue") ? nullptr : std::make_shared<FakeQueue>(gpu_);
  }
  std::shared_ptr<pf::Buffer> newBufferWithBytes(const void* bytes, std::uint64_t length,
                                                 std::uint64_t options) override {
    return makeBuffer("newBufferWithBytes", {bytes}, length, options);
  }
  std::shared_ptr<pf::Buffer> newBufferWithPattern(const void* pattern, std::uint64_t patternLength,
                                                   std::uint64_t length,
                                                   std::uint64_t options) override {
    gpu_.noteFill(floatOne(pattern, patternLength));
    return makeBuffer("newBufferWithPattern", {pattern, patternLength}, length, options);
  }
  std::shared_ptr<pf::Buffer> newBufferWithLength(std::uint64_t length,
                                                  std::uint64_t options) override {
    return makeBuffer("newBufferWithLength", {}, length, options);
  }
  std::shared_ptr<pf::MatrixMultiplication> newMatrixMultiplication(
      std::uint64_t rows, std::uint64_t columns, std::uint64_t interior) override {
    gpu_.record("newMatrixMultiplication(" + std::to_string(rows) + ", " + std::to_string(columns) +
                ", " + std::to_string(interior) + ")");
    return gpu_.fails("newMatrixMultiplication") ? nullptr : std::make_shared<FakeKernel>(gpu_);
  }

 private:
  std::shared_ptr<pf::Buffer> makeBuffer(const char* call, Contents contents, std::uint64_t length,
                                         std::uint64_t options) {
    std::string args = std::to_string(length) + ", " + std::to_string(options);
    if (gpu_.fails(call)) return gpu_.record(std::string(call) + "(" + args + ") -> null"), nullptr;
    auto buffer = std::make_shared<FakeBuffer>(gpu_, length, contents);
    gpu_.record(std::string(call) + "(" + args + ") -> " + buffer->label());
    return buffer;
  }

  FakeGPU& gpu_;
  DeviceSpec description_;
};

}  // namespace

FakeGPU::FakeGPU(FakeGPUOptions options) : options_(std::move(options)) {}

std::shared_ptr<pf::Device> FakeGPU::makeDevice(const DeviceSpec& description) {
  return std::make_shared<FakeDevice>(*this, description);
}

std::vector<std::shared_ptr<pf::Device>> FakeGPU::copyAllDevices() {
  record("MTLCopyAllDevices");
  std::vector<std::shared_ptr<pf::Device>> devices;
  for (const auto& device : options_.devices) devices.push_back(makeDevice(device));
  return devices;
}

std::shared_ptr<pf::Device> FakeGPU::createSystemDefaultDevice() {
  record("MTLCreateSystemDefaultDevice");
  if (options_.devices.empty() || fails("MTLCreateSystemDefaultDevice")) return nullptr;
  return makeDevice(options_.devices.front());
}

std::shared_ptr<const pf::MatrixDescriptor> FakeGPU::matrixDescriptor(std::uint64_t rows,
                                                                      std::uint64_t columns,
                                                                      std::uint64_t rowBytes,
                                                                      std::uint32_t dataType) {
  char type[16];
  std::snprintf(type, sizeof type, "0x%08X", dataType);
  record("matrixDescriptor(" + std::to_string(rows) + ", " + std::to_string(columns) + ", " +
         std::to_string(rowBytes) + ", " + type + ")");
  return GPUPlatform::matrixDescriptor(rows, columns, rowBytes, dataType);
}

std::shared_ptr<pf::Matrix> FakeGPU::matrix(
    std::shared_ptr<pf::Buffer> buffer, std::shared_ptr<const pf::MatrixDescriptor> descriptor) {
  record("initMatrix(" + static_cast<FakeBuffer&>(*buffer).label() + ")");
  return GPUPlatform::matrix(std::move(buffer), std::move(descriptor));
}

}  // namespace ventra::gpu::fake
