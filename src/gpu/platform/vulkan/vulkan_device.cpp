#include "gpu/platform/vulkan/vulkan_device.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gpu/platform/linux/card_identity.h"
#include "gpu/platform/linux/resident_libraries.h"
#include "gpu/platform/vulkan/tile_device.h"

namespace ventra::gpu::vulkan {
namespace lg = linux_gpu;
namespace {

platform::KernelSource kernelSourceOf(tile::TileSource source) {
  switch (source) {
    case tile::TileSource::given:
      return platform::KernelSource::given;
    case tile::TileSource::tuned:
      return platform::KernelSource::tuned;
    case tile::TileSource::classDefault:
      break;
  }
  return platform::KernelSource::deviceDefault;
}

constexpr const char* kValidationLayer = "VK_LAYER_KHRONOS_validation";

bool hasLayer(const vk::raii::Context& context, const char* name) {
  auto layers = context.enumerateInstanceLayerProperties();
  return std::any_of(layers.begin(), layers.end(), [&](const auto& layer) {
    return lg::fieldText(layer.layerName.data(), layer.layerName.size()) == name;
  });
}

bool hasExtension(const vk::raii::PhysicalDevice& device, const char* name) {
  auto extensions = device.enumerateDeviceExtensionProperties();
  return std::any_of(extensions.begin(), extensions.end(), [&](const auto& extension) {
    return lg::fieldText(extension.extensionName.data(), extension.extensionName.size()) == name;
  });
}

std::optional<std::uint32_t> computeQueueFamily(const vk::raii::PhysicalDevice& device) {
  auto families = device.getQueueFamilyProperties();
  for (std::uint32_t i = 0; i < families.size(); ++i)
    if (families[i].queueFlags & vk::QueueFlagBits::eCompute) return i;
  return std::nullopt;
}

std::uint64_t largestDeviceLocalHeap(const vk::raii::PhysicalDevice& device) {
  std::uint64_t largest = 0;
  auto memory = device.getMemoryProperties();
  for (std::uint32_t i = 0; i < memory.memoryHeapCount; ++i)
    if (memory.memoryHeaps[i].flags & vk::MemoryHeapFlagBits::eDeviceLocal)
      largest = std::max<std::uint64_t>(largest, memory.memoryHeaps[i].size);
  return largest;
}

std::optional<std::string> pciAddress(const vk::raii::PhysicalDevice& device) {
  if (!hasExtension(device, VK_EXT_PCI_BUS_INFO_EXTENSION_NAME)) return std::nullopt;
  auto chain = device.getProperties2<vk::PhysicalDeviceProperties2,
                                     vk::PhysicalDevicePCIBusInfoPropertiesEXT>();
  const auto& bus = chain.get<vk::PhysicalDevicePCIBusInfoPropertiesEXT>();
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x", bus.pciDomain & 0xFFFF, bus.pciBus & 0xFF,
                bus.pciDevice & 0x1F, bus.pciFunction & 0x7);
  return text;
}

// "Vulkan (radv)": the stack and, where the driver says, which driver of it.
std::string stackText(const vk::raii::PhysicalDevice& device) {
  const bool driverProperties = device.getProperties().apiVersion >= VK_API_VERSION_1_2 ||
                                hasExtension(device, VK_KHR_DRIVER_PROPERTIES_EXTENSION_NAME);
  if (!driverProperties) return "Vulkan";
  auto chain =
      device.getProperties2<vk::PhysicalDeviceProperties2, vk::PhysicalDeviceDriverProperties>();
  return "Vulkan (" +
         lg::fieldText(chain.get<vk::PhysicalDeviceDriverProperties>().driverName.data(),
                       VK_MAX_DRIVER_NAME_SIZE) +
         ")";
}

platform::DeviceFacts describe(const vk::raii::PhysicalDevice& device, std::size_t index) {
  const auto properties = device.getProperties();
  lg::DriverReport report;
  report.strings.vendorId = properties.vendorID;
  report.strings.deviceName =
      lg::fieldText(properties.deviceName.data(), VK_MAX_PHYSICAL_DEVICE_NAME_SIZE);
  report.pciAddress = pciAddress(device);
  report.memoryBytes = largestDeviceLocalHeap(device);
  report.memorySource = "Vulkan's largest device-local heap";
  auto card = lg::identifyCard(report, lg::drmCards());
  return {index,
          card.name,
          card.workingSetBytes,
          {stackText(device), card.pciAddress, card.memorySource, "", ""}};
}

}  // namespace

Instance::Instance(const lg::BackendOptions& options) : onMessage_(options.onValidationMessage) {
  std::vector<const char*> layers, extensions;
  if (options.validate) {
    if (hasLayer(context_, kValidationLayer)) {
      layers.push_back(kValidationLayer);
      extensions.push_back(VK_EXT_DEBUG_UTILS_EXTENSION_NAME);
    } else if (onMessage_) {
      onMessage_("the Khronos validation layer is not installed (vulkan-validationlayers)");
    }
  }
  vk::ApplicationInfo application("ventra", 1, "ventra", 1, VK_API_VERSION_1_1);
  instance_ = vk::raii::Instance(context_, {{}, &application, layers, extensions});
  linux_gpu::keepLoadedLibrariesResident();  // the loader, the drivers and the layer
  if (layers.empty()) return;
  // Filled as the C structure: every Vulkan-Hpp takes it as it is, while their constructors differ
  // in the type of callback they want.
  VkDebugUtilsMessengerCreateInfoEXT info{};
  info.sType = VK_STRUCTURE_TYPE_DEBUG_UTILS_MESSENGER_CREATE_INFO_EXT;
  info.messageSeverity = VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT |
                         VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT;
  info.messageType = VK_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT |
                     VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT |
                     VK_DEBUG_UTILS_MESSAGE_TYPE_PERFORMANCE_BIT_EXT;
  info.pfnUserCallback = &Instance::report;
  info.pUserData = this;
  messenger_ =
      vk::raii::DebugUtilsMessengerEXT(instance_, vk::DebugUtilsMessengerCreateInfoEXT(info));
}

// Destroying the instance would unload the drivers, and the context the loader itself.
Instance::~Instance() {
  linux_gpu::keepLoadedLibrariesResident();
}

VkBool32 Instance::report(VkDebugUtilsMessageSeverityFlagBitsEXT, VkDebugUtilsMessageTypeFlagsEXT,
                          const VkDebugUtilsMessengerCallbackDataEXT* data, void* self) {
  auto& instance = *static_cast<Instance*>(self);
  if (instance.onMessage_) instance.onMessage_(data->pMessage ? data->pMessage : "(no text)");
  return VK_FALSE;
}

Device::Device(std::shared_ptr<Instance> instance, vk::raii::PhysicalDevice physical,
               std::uint32_t queueFamily, platform::DeviceFacts facts,
               std::shared_ptr<const lg::BackendOptions> options)
    : instance_(std::move(instance)),
      physical_(std::move(physical)),
      queueFamily_(queueFamily),
      facts_(std::move(facts)),
      options_(std::move(options)) {
  auto chain = physical_.getProperties2<vk::PhysicalDeviceProperties2,
                                        vk::PhysicalDeviceMaintenance3Properties>();
  maxAllocation_ = chain.get<vk::PhysicalDeviceMaintenance3Properties>().maxMemoryAllocationSize;
  cpu_ = physical_.getProperties().deviceType == vk::PhysicalDeviceType::eCpu;
  tileDevice_ = tileDeviceOf(physical_, facts_.name);
  facts_.details.driver = tileDevice_.driver;
  takeTile(tile::chooseTile(tileDevice_, options_->tile, tileStore()));
}

tile::TileStorePlace Device::tileStore() const {
  return {options_->tileStore, ::geteuid()};
}

void Device::takeTile(tile::TileChoice choice) {
  tile_ = std::move(choice);
  facts_.details.kernel = "our shader, tile " + tile_.tile.text() + " (" + tile_.words() + ")";
  facts_.details.kernelSource = kernelSourceOf(tile_.source);
}

void Device::forgetUnbuildableTile(const std::string& why) {
  takeTile(tile::forgetUnbuildableTile(tileDevice_, tileStore(), why));
}

DeviceLimits Device::limits() const {
  const auto& limits = physical_.getProperties().limits;
  std::uint64_t binding = limits.maxStorageBufferRange;
  if (options_->maxBindingBytes) binding = std::min(binding, options_->maxBindingBytes);
  return {binding, std::max<std::uint64_t>(limits.minStorageBufferOffsetAlignment, 4)};
}

vk::raii::Device& Device::logical() {
  std::call_once(made_, [this] {
    const float priority = 1.0f;
    vk::DeviceQueueCreateInfo queue({}, queueFamily_, 1, &priority);
    device_.emplace(physical_, vk::DeviceCreateInfo({}, queue));
    queue_.emplace(*device_, queueFamily_, 0);
  });
  return *device_;
}

void Device::submit(const vk::raii::CommandBuffer& commands, const vk::raii::Fence& fence) {
  logical();
  std::lock_guard lock(queueMutex_);
  vk::CommandBuffer handle = *commands;
  queue_->submit(vk::SubmitInfo({}, {}, handle), *fence);
}

void Device::runNow(const vk::raii::CommandBuffer& commands) {
  vk::raii::Fence fence(logical(), vk::FenceCreateInfo());
  submit(commands, fence);
  if (logical().waitForFences(*fence, VK_TRUE, UINT64_MAX) != vk::Result::eSuccess)
    throw std::runtime_error("the device did not finish");
}

std::optional<std::uint32_t> Device::memoryType(std::uint32_t allowed,
                                                vk::MemoryPropertyFlags wanted) const {
  auto memory = physical_.getMemoryProperties();
  for (std::uint32_t i = 0; i < memory.memoryTypeCount; ++i)
    if ((allowed & (1u << i)) && (memory.memoryTypes[i].propertyFlags & wanted) == wanted) return i;
  return std::nullopt;
}

Buffer::Buffer(Device& device, std::uint64_t bytes, vk::BufferUsageFlags usage,
               vk::MemoryPropertyFlags properties)
    : bytes_(bytes),
      meter_(device.options().meter),
      buffer_(device.logical(), {{}, bytes, usage, vk::SharingMode::eExclusive}) {
  auto requirements = buffer_.getMemoryRequirements();
  auto type = device.memoryType(requirements.memoryTypeBits, properties);
  if (!type) throw std::runtime_error("the device has no memory of the kind a buffer needs");
  memory_ = vk::raii::DeviceMemory(device.logical(), {requirements.size, *type});
  buffer_.bindMemory(*memory_, 0);
  allocated_ = requirements.size;
  if (meter_) meter_->allocated(allocated_);
}

Buffer::~Buffer() {
  if (meter_) meter_->released(allocated_);
}

namespace {

using Usage = vk::BufferUsageFlagBits;
using Memory = vk::MemoryPropertyFlagBits;

// Moves `total` bytes through a mapped host-visible staging buffer of at most `stagingBytes`, a
// chunk at a time: `record(commands, staging, mapped, at, count)` fills a fresh one-time command
// buffer, which runs to completion before `afterwards(mapped, at, count)`.
template <typename Record, typename Afterwards>
void throughStaging(Device& device, std::uint64_t total, std::uint64_t stagingBytes,
                    vk::BufferUsageFlags usage, Record record, Afterwards afterwards) {
  Buffer staging(device, std::min(total, stagingBytes), usage,
                 Memory::eHostVisible | Memory::eHostCoherent);
  auto* mapped = static_cast<char*>(staging.map());
  vk::raii::CommandPool pool(device.logical(),
                             {vk::CommandPoolCreateFlagBits::eTransient |
                                  vk::CommandPoolCreateFlagBits::eResetCommandBuffer,
                              device.queueFamily()});
  auto commands = std::move(
      vk::raii::CommandBuffers(device.logical(), {*pool, vk::CommandBufferLevel::ePrimary, 1})[0]);
  for (std::uint64_t at = 0; at < total; at += staging.bytes()) {
    const std::uint64_t count = std::min(staging.bytes(), total - at);
    commands.reset();
    commands.begin({vk::CommandBufferUsageFlagBits::eOneTimeSubmit});
    record(commands, staging, mapped, at, count);
    commands.end();
    device.runNow(commands);
    afterwards(mapped, at, count);
  }
  staging.unmap();
}

// Makes every earlier shader or transfer write visible to what follows.
void barrier(const vk::raii::CommandBuffer& commands) {
  vk::MemoryBarrier all(vk::AccessFlagBits::eShaderWrite | vk::AccessFlagBits::eTransferWrite,
                        vk::AccessFlagBits::eShaderRead | vk::AccessFlagBits::eShaderWrite |
                            vk::AccessFlagBits::eTransferRead | vk::AccessFlagBits::eTransferWrite);
  auto stages = vk::PipelineStageFlagBits::eComputeShader | vk::PipelineStageFlagBits::eTransfer;
  commands.pipelineBarrier(stages, stages, {}, all, {}, {});
}

}  // namespace

void upload(Device& device, Buffer& target, const void* bytes, std::uint64_t length,
            std::uint64_t stagingBytes) {
  throughStaging(
      device, length, stagingBytes, Usage::eTransferSrc,
      [&](const vk::raii::CommandBuffer& commands, const Buffer& staging, char* mapped,
          std::uint64_t at, std::uint64_t count) {
        std::memcpy(mapped, static_cast<const char*>(bytes) + at, count);
        commands.copyBuffer(*staging.get(), *target.get(), vk::BufferCopy(0, at, count));
      },
      [](char*, std::uint64_t, std::uint64_t) {});
}

void download(Device& device, const Buffer& source, std::uint64_t offset, void* destination,
              std::uint64_t count, std::uint64_t stagingBytes) {
  throughStaging(
      device, count, stagingBytes, Usage::eTransferDst,
      [&](const vk::raii::CommandBuffer& commands, const Buffer& staging, char*, std::uint64_t at,
          std::uint64_t chunk) {
        barrier(commands);
        commands.copyBuffer(*source.get(), *staging.get(), vk::BufferCopy(offset + at, 0, chunk));
      },
      [&](char* mapped, std::uint64_t at, std::uint64_t chunk) {
        std::memcpy(static_cast<char*>(destination) + at, mapped, chunk);
      });
}

std::vector<std::shared_ptr<Device>> enumerateDevices(
    std::shared_ptr<Instance> instance, std::shared_ptr<const lg::BackendOptions> options,
    bool cpuDevicesCanRun) {
  struct Found {
    vk::raii::PhysicalDevice physical;
    std::uint32_t family;
  };
  std::vector<Found> gpus, cpus;
  for (auto& physical : vk::raii::PhysicalDevices(instance->get())) {
    const auto properties = physical.getProperties();
    auto family = computeQueueFamily(physical);
    const bool cpu = properties.deviceType == vk::PhysicalDeviceType::eCpu;
    if (!family || properties.apiVersion < VK_API_VERSION_1_1 ||
        (cpu && !(options->includeCpuDevices && cpuDevicesCanRun)))
      continue;
    (cpu ? cpus : gpus).push_back({std::move(physical), *family});
  }
  for (auto& found : cpus) gpus.push_back(std::move(found));
  std::vector<std::shared_ptr<Device>> devices;
  for (auto& found : gpus) {
    auto facts = describe(found.physical, devices.size());
    devices.push_back(std::make_shared<Device>(instance, std::move(found.physical), found.family,
                                               std::move(facts), options));
  }
  return devices;
}

}  // namespace ventra::gpu::vulkan
