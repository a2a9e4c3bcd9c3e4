#include "gpu/platform/opencl/opencl_device.h"

#include <CL/cl_ext.h>

#include <cstdio>
#include <optional>

#include "gpu/platform/linux/card_identity.h"
#include "gpu/platform/linux/resident_libraries.h"

namespace ventra::gpu::opencl {
namespace {

std::string infoText(cl_device_id device, cl_device_info what) {
  std::size_t size = 0;
  if (clGetDeviceInfo(device, what, 0, nullptr, &size) != CL_SUCCESS || size == 0) return {};
  std::string text(size, '\0');
  if (clGetDeviceInfo(device, what, size, text.data(), nullptr) != CL_SUCCESS) return {};
  text.resize(text.find('\0') == std::string::npos ? size : text.find('\0'));
  return text;
}

template <typename T>
std::optional<T> infoValue(cl_device_id device, cl_device_info what) {
  T value{};
  if (clGetDeviceInfo(device, what, sizeof value, &value, nullptr) != CL_SUCCESS) return {};
  return value;
}

std::string platformName(cl_device_id device) {
  auto platform = infoValue<cl_platform_id>(device, CL_DEVICE_PLATFORM);
  std::size_t size = 0;
  if (!platform || clGetPlatformInfo(*platform, CL_PLATFORM_NAME, 0, nullptr, &size) != CL_SUCCESS)
    return {};
  std::string name(size, '\0');
  clGetPlatformInfo(*platform, CL_PLATFORM_NAME, size, name.data(), nullptr);
  return name.substr(0, name.find('\0'));
}

std::string pciText(unsigned domain, unsigned bus, unsigned device, unsigned function) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x", domain & 0xFFFF, bus & 0xFF, device & 0x1F,
                function & 0x7);
  return text;
}

// From cl_khr_pci_bus_info (rusticl) or AMD's topology query (ROCm, the vendor's stack);
// Clover offers neither.
std::optional<std::string> pciAddress(cl_device_id id) {
  if (auto bus = infoValue<cl_device_pci_bus_info_khr>(id, CL_DEVICE_PCI_BUS_INFO_KHR))
    return pciText(bus->pci_domain, bus->pci_bus, bus->pci_device, bus->pci_function);
  auto topology = infoValue<cl_device_topology_amd>(id, CL_DEVICE_TOPOLOGY_AMD);
  if (topology && topology->raw.type == CL_DEVICE_TOPOLOGY_TYPE_PCIE_AMD)
    return pciText(0, static_cast<unsigned char>(topology->pcie.bus),
                   static_cast<unsigned char>(topology->pcie.device),
                   static_cast<unsigned char>(topology->pcie.function));
  return {};
}

// The card behind the device, named and sized by the rules every Linux stack shares.
void describe(DeviceHandle& handle, linux_gpu::DeviceStrings strings) {
  linux_gpu::DriverReport report{
      std::move(strings), pciAddress(handle.id),
      infoValue<cl_ulong>(handle.id, CL_DEVICE_GLOBAL_MEM_SIZE).value_or(0),
      "OpenCL global memory size"};
  auto card = linux_gpu::identifyCard(report, linux_gpu::drmCards());
  handle.name = card.name;
  handle.workingSet = card.workingSetBytes;
  handle.ellesmere = card.ellesmere;
  handle.details = {"OpenCL (" + platformName(handle.id) + ")", card.pciAddress, card.memorySource,
                    infoText(handle.id, CL_DRIVER_VERSION), "CLBlast's GEMM"};
}

}  // namespace

std::vector<cl_device_id> devicesOfType(cl_device_type type) {
  cl_uint platformCount = 0;
  if (clGetPlatformIDs(0, nullptr, &platformCount) != CL_SUCCESS || platformCount == 0) return {};
  std::vector<cl_platform_id> platforms(platformCount);
  clGetPlatformIDs(platformCount, platforms.data(), nullptr);
  std::vector<cl_device_id> found;
  for (cl_platform_id platform : platforms) {
    cl_uint count = 0;
    if (clGetDeviceIDs(platform, type, 0, nullptr, &count) != CL_SUCCESS || count == 0) continue;
    std::vector<cl_device_id> ids(count);
    clGetDeviceIDs(platform, type, count, ids.data(), nullptr);
    found.insert(found.end(), ids.begin(), ids.end());
  }
  linux_gpu::keepLoadedLibrariesResident();  // the ICD loader has loaded every driver now
  return found;
}

DeviceHandle::~DeviceHandle() {
  linux_gpu::keepLoadedLibrariesResident();  // whatever the driver loaded since
}

QueueHandle makeQueue(const DeviceHandle& device) {
  cl_int error = CL_SUCCESS;
  QueueHandle queue(clCreateCommandQueue(device.context.get(), device.id, 0, &error));
  return error == CL_SUCCESS ? std::move(queue) : QueueHandle();
}

std::shared_ptr<DeviceHandle> openDevice(cl_device_id id) {
  cl_int error = CL_SUCCESS;
  ContextHandle context(clCreateContext(nullptr, 1, &id, nullptr, nullptr, &error));
  if (error != CL_SUCCESS || !context) return nullptr;
  auto handle = std::make_shared<DeviceHandle>();
  handle->id = id;
  handle->context = std::move(context);
  handle->maxAllocation = infoValue<cl_ulong>(id, CL_DEVICE_MAX_MEM_ALLOC_SIZE).value_or(0);
  handle->cpu =
      (infoValue<cl_device_type>(id, CL_DEVICE_TYPE).value_or(0) & CL_DEVICE_TYPE_CPU) != 0;
  describe(*handle,
           {infoText(id, CL_DEVICE_VENDOR), infoValue<cl_uint>(id, CL_DEVICE_VENDOR_ID).value_or(0),
            infoText(id, CL_DEVICE_NAME), infoText(id, CL_DEVICE_BOARD_NAME_AMD), ""});
  return handle;
}

}  // namespace ventra::gpu::opencl
