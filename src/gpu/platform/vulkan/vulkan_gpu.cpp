// The Vulkan backend proper: devices, buffers uploaded through bounded staging, products through
// our own compute shader. Built as a module that the process loads when it first asks for
// devices (linux/stacks.cpp), so neither the Vulkan loader nor a driver costs anything to a
// launch that never gets that far.

#include <mutex>

#include "gpu/platform/linux/card_identity.h"
#include "gpu/platform/linux/first_product.h"
#include "gpu/platform/linux/module.h"
#include "gpu/platform/linux/stack_platform.h"
#include "gpu/platform/vulkan/vulkan_device.h"
#include "gpu/platform/vulkan/vulkan_product.h"

namespace ventra::gpu::vulkan {
namespace pf = platform;
using linux_gpu::BackendOptions;
namespace {

using Usage = vk::BufferUsageFlagBits;

class VkMemory final : public pf::DeviceMemory {
 public:
  VkMemory(std::shared_ptr<Device> device, std::uint64_t length)
      : device_(std::move(device)),
        buffer_(*device_, length, Usage::eStorageBuffer | Usage::eTransferSrc | Usage::eTransferDst,
                vk::MemoryPropertyFlagBits::eDeviceLocal) {}
  bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
    if (offset > buffer_.bytes() || count > buffer_.bytes() - offset) return false;
    if (count == 0) return true;
    try {
      download(*device_, buffer_, offset, destination, count, stagingBytes(*device_));
      return true;
    } catch (const std::exception&) {
      return false;  // the port's answer: the device cannot
    }
  }
  Buffer& buffer() { return buffer_; }
  static std::uint64_t stagingBytes(const Device& device) {
    return std::max<std::uint64_t>(device.options().extraMemoryBytes / 4, 4096);
  }

 private:
  std::shared_ptr<Device> device_;
  Buffer buffer_;
};

const Buffer& bufferOf(const std::shared_ptr<pf::DeviceMemory>& memory) {
  // This backend's devices hold only its own memory.
  return static_cast<VkMemory&>(*memory).buffer();
}

// Devices are found once, when first asked for; each one's logical device and pipeline are made
// when it first gets work, so the shader is compiled once per process.
class VulkanPlatform final : public linux_gpu::StackPlatform {
 public:
  using StackPlatform::StackPlatform;
  std::vector<pf::DeviceFacts> devices() override {
    std::vector<pf::DeviceFacts> all;
    for (const auto& device : found()) all.push_back(device->facts());
    return all;
  }
  std::optional<pf::DeviceFacts> defaultDevice() override {
    if (found().empty()) return std::nullopt;
    return found().front()->facts();
  }
  std::shared_ptr<pf::DeviceMemory> allocate(std::size_t index, std::uint64_t length,
                                             const void* contents) override {
    if (index >= found().size()) return nullptr;
    const auto& device = found()[index];
    if (length == 0 || length > device->maxAllocation()) return nullptr;
    try {
      device->logical();
    } catch (const std::exception& error) {
      return failed("the Vulkan device could not be opened: " + std::string(error.what()));
    }
    try {
      auto memory = std::make_shared<VkMemory>(device, length);
      if (contents)
        upload(*device, memory->buffer(), contents, length, VkMemory::stagingBytes(*device));
      return memory;
    } catch (const std::exception& error) {
      return failed("the Vulkan device refused " + std::to_string(length) +
                    " bytes: " + error.what());
    }
  }
  std::shared_ptr<pf::Submission> submit(std::size_t index,
                                         std::vector<pf::MatrixProduct> products) override {
    if (index >= found().size()) return nullptr;
    try {
      return submitProducts(found()[index], kernel(index), std::move(products), bufferOf);
    } catch (const std::exception&) {
      return nullptr;  // the port's answer: the device took no work
    }
  }
  // The pipeline is made, and compiled where the driver waits for a first dispatch. Not the
  // load's work: the stack's watchers are not told of it.
  void prepareProducts(std::size_t index) override {
    if (index >= found().size()) return;
    auto first = linux_gpu::firstProduct(*this, index);
    if (!first) return;
    try {
      submitProducts(found()[index], kernel(index), {*first}, bufferOf, false)->wait();
    } catch (const std::exception&) {
      // The load's own submission meets the same refusal and says what it was.
    }
  }
  std::optional<pf::DeviceTemperature> temperature(std::size_t index) override {
    if (index >= found().size()) return std::nullopt;
    return linux_gpu::deviceTemperature(found()[index]->facts());
  }

 private:
  const std::vector<std::shared_ptr<Device>>& found() {
    std::call_once(enumerated_, [this] {
      try {
        auto instance = std::make_shared<Instance>(*options_);
        devices_ = enumerateDevices(std::move(instance), options_, offersCpuDevices("lavapipe"));
      } catch (const vk::IncompatibleDriverError&) {
        devices_.clear();  // no Vulkan driver here: the stack simply has no devices
      } catch (const vk::InitializationFailedError& error) {
        // The loader says this both where it found no driver and where a driver could not
        // start (memory ran short): both are named.
        devices_.clear();
        failed("Vulkan could not start a driver (" + std::string(error.what()) +
               "): none is installed (mesa-vulkan-drivers), or memory ran short");
      } catch (const std::exception& error) {
        devices_.clear();
        failed("Vulkan could not start: " + std::string(error.what()));
      }
      kernels_.resize(devices_.size());
    });
    return devices_;
  }
  std::shared_ptr<const MatmulKernel> kernel(std::size_t index) {
    std::lock_guard lock(kernelMutex_);
    if (!kernels_[index]) kernels_[index] = std::make_shared<MatmulKernel>(*devices_[index]);
    return kernels_[index];
  }

  std::once_flag enumerated_;
  std::vector<std::shared_ptr<Device>> devices_;
  std::mutex kernelMutex_;
  std::vector<std::shared_ptr<const MatmulKernel>> kernels_;
};

}  // namespace
}  // namespace ventra::gpu::vulkan

extern "C" void ventra_gpu_module_platform(
    const ventra::gpu::linux_gpu::BackendOptions* options,
    std::shared_ptr<ventra::gpu::platform::GPUPlatform>* platform) {
  *platform = std::make_shared<ventra::gpu::vulkan::VulkanPlatform>(*options);
}
