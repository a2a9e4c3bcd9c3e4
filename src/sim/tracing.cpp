#include "sim/tracing.h"

#include <map>

#include "smc/param_struct.h"

namespace ventra::sim {
namespace spf = smc::platform;
namespace gpf = gpu::platform;

namespace {

class TracingClient final : public spf::UserClient {
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

class TracingService final : public spf::Service {
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

// Passes every call through; notes the devices asked for and the load when it is submitted.
class TracingGPU final : public gpf::GPUPlatform {
 public:
  TracingGPU(std::shared_ptr<gpf::GPUPlatform> inner, Trace& trace)
      : inner_(std::move(inner)), trace_(trace) {}
  std::vector<gpf::DeviceFacts> devices() override {
    auto devices = inner_->devices();
    trace_.add("gpuDevices", {{"count", devices.size()}});
    for (const auto& device : devices) names_[device.index] = device.name;
    return devices;
  }
  std::optional<gpf::DeviceFacts> defaultDevice() override {
    auto device = inner_->defaultDevice();
    trace_.add("gpuDefaultDevice", {{"found", device.has_value()}});
    if (device) names_[device->index] = device->name;
    return device;
  }
  std::shared_ptr<gpf::DeviceMemory> allocate(std::size_t device, std::uint64_t length,
                                              const void* contents) override {
    return inner_->allocate(device, length, contents);
  }
  std::shared_ptr<gpf::Submission> submit(std::size_t device,
                                          std::vector<gpf::MatrixProduct> products) override {
    if (!products.empty())
      trace_.add("gpuLoad", {{"n", products.front().rows}, {"device", names_[device]}});
    return inner_->submit(device, std::move(products));
  }
  void prepareProducts(std::size_t device) override { inner_->prepareProducts(device); }
  std::optional<gpf::DeviceTemperature> temperature(std::size_t device) override {
    return inner_->temperature(device);
  }
  std::optional<std::string> problem() override { return inner_->problem(); }

 private:
  std::shared_ptr<gpf::GPUPlatform> inner_;
  Trace& trace_;
  std::map<std::size_t, std::string> names_;
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
