#pragma once

// One OpenCL device as the backend knows it: its context, and the facts the port reports,
// gathered once when the devices are first asked for.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gpu/platform/backend.h"
#include "gpu/platform/opencl/cl_handles.h"

namespace ventra::gpu::opencl {

struct DeviceHandle {
  ~DeviceHandle();  // keeps the driver loaded (linux/resident_libraries.h)
  cl_device_id id = nullptr;
  ContextHandle context;
  std::string name;
  std::uint64_t workingSet = 0;
  std::uint64_t maxAllocation = 0;
  bool ellesmere = false;  // an RX 470/480/570/580 chip, for CLBlast's tuned parameters
  bool cpu = false;        // a CPU device (PoCL), a thousand times slower than a GPU
  platform::DeviceDetails details;
};

std::vector<cl_device_id> devicesOfType(cl_device_type type);
// An in-order queue on the device; empty where the driver refuses one.
QueueHandle makeQueue(const DeviceHandle& device);
// Null when no context can be made on the device.
std::shared_ptr<DeviceHandle> openDevice(cl_device_id id);

}  // namespace ventra::gpu::opencl
