#include "sim/tracing.h"

#include "smc/param_struct.h"

namespace ventra::sim {
namespace spf = smc::platform;
namespace gpf = gpu::platform;

namespace {

class TracingClient : public spf::UserClient {
 public:
  TracingClient(std::unique_ptr<spf::UserClient> inner, Trace& trace)
      : inner_(std::move(inner)), trace_(trace) {}
  ~TracingClient() override { trace_.add("smcClose"); }
  spf::kern_return_t callStructMethod(std::uint32_t selector, std::span<const std::uint8_t> input,
                                      std::span<std::uint8_t> output,
                                      std::size_t& outputSize) override {
    if (input.size() == SMCParamStruct::kSize) {
      auto request = SMCParamStruct::fromRaw(input.data());
      if (request.data8 == rawValue(SMCParamStruct::Selector::kSMCReadKey))
        trace_.add("smcRead", {{"key", fourCharCodeToString(request.key)}});
    }
    return inner_->callStructMethod(selector, input, output, outputSize);
  }

 private:
  std::unique_ptr<spf::UserClient> inner_;
  Trace& trace_;
};

class TracingService : public spf::Service {
 public:
  TracingService(std::shared_ptr<spf::Service> inner, Trace& trace)
      : inner_(std::move(inner)), trace_(trace) {}
  spf::kern_return_t open(std::uint32_t type, std::unique_ptr<spf::UserClient>& client) override {
    std::unique_ptr<spf::UserClient> opened;
    spf::kern_return_t rc = inner_->open(type, opened);
    trace_.add("smcOpen", {{"ok", rc == spf::kIOReturnSuccess}});
    if (rc == spf::kIOReturnSuccess)
      client = std::make_unique<TracingClient>(std::move(opened), trace_);
    return rc;
  }

 private:
  std::shared_ptr<spf::Service> inner_;
  Trace& trace_;
};

// Passes every call through; notes the load when its kernel is made.
class TracingDevice : public gpf::Device {
 public:
  TracingDevice(std::shared_ptr<gpf::Device> inner, Trace& trace)
      : inner_(std::move(inner)), trace_(trace) {}
  std::string name() const override { return inner_->name(); }
  std::uint64_t recommendedMaxWorkingSetSize() const override {
    return inner_->recommendedMaxWorkingSetSize();
  }
  gpf::DeviceDetails details() const override { return inner_->details(); }
  std::shared_ptr<gpf::CommandQueue> newCommandQueue() override {
    return inner_->newCommandQueue();
  }
  std::shared_ptr<gpf::Buffer> newBufferWithBytes(const void* bytes, std::uint64_t length,
                                                  std::uint64_t options) override {
    return inner_->newBufferWithBytes(bytes, length, options);
  }
  std::shared_ptr<gpf::Buffer> newBufferWithPattern(const void* pattern,
                                                    std::uint64_t patternLength,
                                                    std::uint64_t length,
                                                    std::uint64_t options) override {
    return inner_->newBufferWithPattern(pattern, patternLength, length, options);
  }
  std::shared_ptr<gpf::Buffer> newBufferWithLength(std::uint64_t length,
                                                   std::uint64_t options) override {
    return inner_->newBufferWithLength(length, options);
  }
  std::shared_ptr<gpf::MatrixMultiplication> newMatrixMultiplication(
      std::uint64_t rows, std::uint64_t columns, std::uint64_t interior) override {
    trace_.add("gpuLoad", {{"n", rows}, {"device", inner_->name()}});
    return inner_->newMatrixMultiplication(rows, columns, interior);
  }

 private:
  std::shared_ptr<gpf::Device> inner_;
  Trace& trace_;
};

class TracingGPU : public gpf::GPUPlatform {
 public:
  TracingGPU(std::shared_ptr<gpf::GPUPlatform> inner, Trace& trace)
      : inner_(std::move(inner)), trace_(trace) {}
  std::vector<std::shared_ptr<gpf::Device>> copyAllDevices() override {
    auto devices = inner_->copyAllDevices();
    trace_.add("gpuDevices", {{"count", devices.size()}});
    return devices;
  }
  std::shared_ptr<gpf::Device> createSystemDefaultDevice() override {
    auto device = inner_->createSystemDefaultDevice();
    trace_.add("gpuDefaultDevice", {{"found", device != nullptr}});
    return device ? std::make_shared<TracingDevice>(device, trace_) : nullptr;
  }
  std::shared_ptr<const gpf::MatrixDescriptor> matrixDescriptor(std::uint64_t rows,
                                                                std::uint64_t columns,
                                                                std::uint64_t rowBytes,
                                                                std::uint32_t dataType) override {
    return inner_->matrixDescriptor(rows, columns, rowBytes, dataType);
  }
  std::shared_ptr<gpf::Matrix> matrix(
      std::shared_ptr<gpf::Buffer> buffer,
      std::shared_ptr<const gpf::MatrixDescriptor> descriptor) override {
    return inner_->matrix(std::move(buffer), std::move(descriptor));
  }

 private:
  std::shared_ptr<gpf::GPUPlatform> inner_;
  Trace& trace_;
};

}  // namespace

std::shared_ptr<spf::Service> tracingSMC(std::shared_ptr<spf::Service> inner, Trace& trace) {
  return std::make_shared<TracingService>(std::move(inner), trace);
}

std::shared_ptr<gpf::GPUPlatform> tracingGPU(std::shared_ptr<gpf::GPUPlatform> inner,
                                             Trace& trace) {
  return std::make_shared<TracingGPU>(std::move(inner), trace);
}

nlohmann::ordered_json notificationFields(const app::platform::UserNotification& n) {
  auto shows = n.values.find("_showsButtons");
  return {{"title", n.title},
          {"informativeText", n.informativeText},
          {"otherButtonTitle", n.otherButtonTitle},
          {"actionButtonTitle", n.actionButtonTitle},
          {"soundName", n.soundName},
          {"hasActionButton", n.hasActionButton},
          {"showsButtons", shows != n.values.end() && shows->second}};
}

}  // namespace ventra::sim
