#include "gpu/platform/fake/fake_gpu.h"

#include <algorithm>
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

// Holds real data only up to the GPU's compute limit: a gigabyte buffer costs nothing here.
class FakeMemory final : public pf::DeviceMemory, Tracked {
 public:
  FakeMemory(std::shared_ptr<int> live, std::string label, std::uint64_t length,
             const void* contents, std::uint64_t computeLimit)
      : Tracked(std::move(live)), label_(std::move(label)) {
    if (length > computeLimit) return;
    data_.assign(length / 4, 0.0f);
    if (contents) std::memcpy(data_.data(), contents, data_.size() * 4);
  }
  bool read(std::uint64_t offset, void* out, std::uint64_t count) override {
    if (data_.empty() || offset + count > data_.size() * 4) return false;
    std::memcpy(out, reinterpret_cast<const char*>(data_.data()) + offset, count);
    return true;
  }
  const std::string& label() const { return label_; }
  std::vector<float>& data() { return data_; }

 private:
  std::string label_;
  std::vector<float> data_;  // empty above the compute limit
};

FakeMemory& fakeMemory(const std::shared_ptr<pf::DeviceMemory>& memory) {
  return static_cast<FakeMemory&>(*memory);  // a fake device only ever holds its own memory
}

// result[i][j] = sum over k of left[i][k] * right[k][j], row-major with the given strides.
void compute(const pf::MatrixProduct& p) {
  auto &a = fakeMemory(p.left).data(), &b = fakeMemory(p.right).data();
  auto& c = fakeMemory(p.result).data();
  if (a.empty() || b.empty() || c.empty()) return;
  const auto as = p.leftRowBytes / 4, bs = p.rightRowBytes / 4, cs = p.resultRowBytes / 4;
  std::vector<float> out(c.size(), 0.0f);
  for (std::uint64_t i = 0; i < p.rows; ++i)
    for (std::uint64_t k = 0; k < p.interior; ++k)
      for (std::uint64_t j = 0; j < p.columns; ++j)
        out[i * cs + j] += a[i * as + k] * b[k * bs + j];
  c = std::move(out);
}

// Busy for the seconds its products take at the GPU's rate, which pass only while someone waits.
class FakeSubmission final : public pf::Submission, Tracked {
 public:
  FakeSubmission(std::shared_ptr<int> live, std::string label, std::vector<std::string>& calls,
                 double busySeconds, std::function<void(double)> passTime)
      : Tracked(std::move(live)),
        label_(std::move(label)),
        calls_(calls),
        busySeconds_(busySeconds),
        passTime_(std::move(passTime)) {}
  std::optional<std::string> wait() override {
    spend(busySeconds_);
    calls_.push_back("wait(" + label_ + ")");
    return std::nullopt;
  }
  bool waitFor(double seconds) override {
    spend(std::min(std::max(seconds, 0.0), busySeconds_));
    return busySeconds_ <= 0;
  }
  void stop() override {
    calls_.push_back("stop(" + label_ + ")");
    busySeconds_ = 0;
  }

 private:
  void spend(double seconds) {
    if (seconds <= 0) return;
    busySeconds_ -= seconds;
    if (passTime_) passTime_(seconds);
  }

  std::string label_;
  std::vector<std::string>& calls_;
  double busySeconds_;
  std::function<void(double)> passTime_;
};

double operations(const pf::MatrixProduct& p) {
  return 2.0 * static_cast<double>(p.rows) * static_cast<double>(p.columns) *
         static_cast<double>(p.interior);
}

std::string productText(const pf::MatrixProduct& p) {
  return fakeMemory(p.left).label() + " x " + fakeMemory(p.right).label() + " -> " +
         fakeMemory(p.result).label() + " (" + std::to_string(p.rows) + "x" +
         std::to_string(p.columns) + "x" + std::to_string(p.interior) + ", rows " +
         std::to_string(p.leftRowBytes) + "/" + std::to_string(p.rightRowBytes) + "/" +
         std::to_string(p.resultRowBytes) + " bytes)";
}

}  // namespace

FakeGPU::FakeGPU(FakeGPUOptions options) : options_(std::move(options)) {}

pf::DeviceFacts FakeGPU::facts(std::size_t index) const {
  const auto& definition = options_.devices[index];
  return {index,
          definition.name,
          definition.workingSetBytes,
          {"fake", "", "the scenario", "", "the host, for products up to its compute limit"}};
}

std::vector<pf::DeviceFacts> FakeGPU::devices() {
  record("devices");
  std::vector<pf::DeviceFacts> all;
  for (std::size_t i = 0; i < options_.devices.size(); ++i) all.push_back(facts(i));
  return all;
}

std::optional<pf::DeviceFacts> FakeGPU::defaultDevice() {
  record("defaultDevice");
  if (options_.devices.empty() || fails("defaultDevice")) return std::nullopt;
  return facts(0);
}

std::shared_ptr<pf::DeviceMemory> FakeGPU::allocate(std::size_t device, std::uint64_t length,
                                                    const void* contents) {
  const char* call = contents ? "copy" : "allocate";
  std::string text = std::string(call) + "(device " + std::to_string(device) + ", " +
                     std::to_string(length) + " bytes)";
  if (fails(call) || length > options_.devices.at(device).workingSetBytes) {
    record(text + " -> null");
    return nullptr;
  }
  std::string label = "buffer#" + std::to_string(++ids_["buffer"]);
  record(text + " -> " + label);
  return std::make_shared<FakeMemory>(live_, label, length, contents, options_.computeLimitBytes);
}

std::shared_ptr<pf::Submission> FakeGPU::submit(std::size_t device,
                                                std::vector<pf::MatrixProduct> products) {
  std::string text = "submit(device " + std::to_string(device);
  for (const auto& product : products) text += ", " + productText(product);
  const bool worn = options_.submitsBeforeFailure && ids_["work"] >= *options_.submitsBeforeFailure;
  if (fails("submit") || worn) {
    record(text + ") -> null");
    return nullptr;
  }
  double busySeconds = 0;
  for (const auto& product : products) {
    compute(product);
    if (options_.flopsPerSecond > 0) busySeconds += operations(product) / options_.flopsPerSecond;
  }
  std::string label = "work#" + std::to_string(++ids_["work"]);
  record(text + ") -> " + label);
  return std::make_shared<FakeSubmission>(live_, label, calls_, busySeconds, options_.passTime);
}

std::optional<pf::DeviceTemperature> FakeGPU::temperature(std::size_t) {
  return options_.temperature ? options_.temperature() : std::nullopt;
}

}  // namespace ventra::gpu::fake
