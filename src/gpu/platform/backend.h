#pragma once

// What a GPU backend implements: its devices and their facts, memory on a device, and matrix
// products submitted in order with their completion. The Metal-shaped front the core calls
// (metal.h) is built on these once, for every backend.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventra::gpu::platform {

// Where a device's facts come from, for diagnostics; the app never asks.
struct DeviceDetails {
  std::string stack;         // the driver stack, as it names itself
  std::string pciAddress;    // empty where unknown
  std::string memorySource;  // what the working-set figure was read from
};

struct DeviceFacts {
  std::size_t index = 0;  // the backend's own number for the device
  std::string name;
  std::uint64_t workingSetBytes = 0;
  DeviceDetails details;
};

// A buffer's memory on its device.
class DeviceMemory {
 public:
  virtual ~DeviceMemory() = default;
  // Copies bytes back to the host; false when the device cannot.
  virtual bool read(std::uint64_t offset, void* destination, std::uint64_t count) = 0;
};

// result = left × right, float32, row-major with the given row strides in bytes.
struct MatrixProduct {
  std::shared_ptr<DeviceMemory> left, right, result;
  std::uint64_t rows = 0, columns = 0, interior = 0;
  std::uint64_t leftRowBytes = 0, rightRowBytes = 0, resultRowBytes = 0;
};

// Work on its way through a device.
class Submission {
 public:
  virtual ~Submission() = default;
  // Blocks until the work is done; what went wrong, if anything.
  virtual std::optional<std::string> wait() = 0;
};

class GPUPlatform {
 public:
  virtual ~GPUPlatform() = default;
  virtual std::vector<DeviceFacts> devices() = 0;
  virtual std::optional<DeviceFacts> defaultDevice() = 0;
  // A buffer holding a copy of `length` bytes at `contents`, or uninitialised where that is
  // null. Null when the device cannot hold it.
  virtual std::shared_ptr<DeviceMemory> allocate(std::size_t device, std::uint64_t length,
                                                 const void* contents) = 0;
  // Starts the products in order; the submission reports how they ended.
  virtual std::shared_ptr<Submission> submit(std::size_t device,
                                             std::vector<MatrixProduct> products) = 0;
};

}  // namespace ventra::gpu::platform
