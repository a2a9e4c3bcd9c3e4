#pragma once

// Vulkan devices as the backend knows them: the instance (with the Khronos validation layer on
// request), each compute-capable physical device with the facts the port reports, and, made on
// first use, its logical device, compute queue and buffers counted by the stack's meter.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <vulkan/vulkan_raii.hpp>

#include "gpu/platform/backend.h"
#include "gpu/platform/linux/backend_options.h"
#include "gpu/platform/tile/tile_choice.h"
#include "gpu/platform/vulkan/binding_windows.h"

namespace ventra::gpu::vulkan {

// The loader, the instance and the validation messages it reports.
class Instance {
 public:
  explicit Instance(const linux_gpu::BackendOptions& options);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  vk::raii::Instance& get() { return instance_; }

 private:
  static VKAPI_ATTR VkBool32 VKAPI_CALL report(VkDebugUtilsMessageSeverityFlagBitsEXT,
                                               VkDebugUtilsMessageTypeFlagsEXT,
                                               const VkDebugUtilsMessengerCallbackDataEXT* data,
                                               void* self);
  std::function<void(const std::string&)> onMessage_;
  vk::raii::Context context_;
  vk::raii::Instance instance_{nullptr};
  vk::raii::DebugUtilsMessengerEXT messenger_{nullptr};
};

// One device: facts gathered at enumeration, the logical device made when first needed.
class Device {
 public:
  Device(std::shared_ptr<Instance> instance, vk::raii::PhysicalDevice physical,
         std::uint32_t queueFamily, platform::DeviceFacts facts,
         std::shared_ptr<const linux_gpu::BackendOptions> options);
  // The shader's tile on this device, and where it came from.
  const tile::TileChoice& tile() const { return tile_; }
  // The tuned tile would not build: forgotten, and the class default taken instead.
  void forgetUnbuildableTile(const std::string& why);
  const platform::DeviceFacts& facts() const { return facts_; }
  const linux_gpu::BackendOptions& options() const { return *options_; }
  DeviceLimits limits() const;
  std::uint64_t maxAllocation() const { return maxAllocation_; }
  bool isCpu() const { return cpu_; }

  // The logical device and its queue, made on first call.
  vk::raii::Device& logical();
  std::uint32_t queueFamily() const { return queueFamily_; }
  // Submits and blocks until done (uploads, read-backs).
  void runNow(const vk::raii::CommandBuffer& commands);
  // Submits with a fence to signal; the queue is used from one thread at a time.
  void submit(const vk::raii::CommandBuffer& commands, const vk::raii::Fence& fence);
  // A memory type with all of `wanted` among those `allowed`.
  std::optional<std::uint32_t> memoryType(std::uint32_t allowed,
                                          vk::MemoryPropertyFlags wanted) const;

 private:
  tile::TileStorePlace tileStore() const;
  void takeTile(tile::TileChoice choice);

  std::shared_ptr<Instance> instance_;  // outlives everything made on the device
  vk::raii::PhysicalDevice physical_;
  std::uint32_t queueFamily_;
  platform::DeviceFacts facts_;
  std::shared_ptr<const linux_gpu::BackendOptions> options_;
  std::uint64_t maxAllocation_ = 0;
  bool cpu_ = false;
  tile::TileDevice tileDevice_;
  tile::TileChoice tile_;
  std::once_flag made_;
  std::optional<vk::raii::Device> device_;
  std::optional<vk::raii::Queue> queue_;
  std::mutex queueMutex_;
};

// A buffer with its own memory, counted by the meter while it lives.
class Buffer {
 public:
  // Throws vk::SystemError where the device refuses.
  Buffer(Device& device, std::uint64_t bytes, vk::BufferUsageFlags usage,
         vk::MemoryPropertyFlags properties);
  ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  const vk::raii::Buffer& get() const { return buffer_; }
  std::uint64_t bytes() const { return bytes_; }
  void* map() { return memory_.mapMemory(0, bytes_); }
  void unmap() { memory_.unmapMemory(); }

 private:
  std::uint64_t bytes_;
  std::uint64_t allocated_ = 0;  // what the device gave, counted by the meter
  std::shared_ptr<linux_gpu::MemoryMeter> meter_;
  vk::raii::Buffer buffer_;
  vk::raii::DeviceMemory memory_{nullptr};
};

// Copies `length` bytes from the host into `target` through a host-visible staging buffer of at
// most `stagingBytes`, so the host never maps a gigabyte of device memory at once.
void upload(Device& device, Buffer& target, const void* bytes, std::uint64_t length,
            std::uint64_t stagingBytes);
// The other way, after every submitted write to `source`.
void download(Device& device, const Buffer& source, std::uint64_t offset, void* destination,
              std::uint64_t count, std::uint64_t stagingBytes);

// The compute-capable devices, GPUs first, CPU devices after them where the options allow and
// `cpuDevicesCanRun`.
std::vector<std::shared_ptr<Device>> enumerateDevices(
    std::shared_ptr<Instance> instance, std::shared_ptr<const linux_gpu::BackendOptions> options,
    bool cpuDevicesCanRun);

}  // namespace ventra::gpu::vulkan
