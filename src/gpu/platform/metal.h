#pragma once

// The GPU port: device enumeration, the default device, buffers, the matrix descriptor, matrices
// and the matrix multiplication kernel, shaped like the platform they come from. Objects are
// reference counted (shared_ptr); a call that yields nothing returns null. The backend is
// installed by the process's composition; with none there are no devices.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventra::gpu::platform {

inline constexpr std::uint64_t MTLResourceStorageModeManaged = 16;  // resource options 16
inline constexpr std::uint32_t MPSDataTypeFloat32 = 0x10000020;

class Buffer {
 public:
  virtual ~Buffer() = default;
  virtual std::uint64_t length() const = 0;
  // Copies bytes back to the host; false when the device cannot. Only diagnostics read back.
  virtual bool readBytes(std::uint64_t offset, void* destination, std::uint64_t count) = 0;
};

struct MatrixDescriptor {
  std::uint64_t rows = 0;
  std::uint64_t columns = 0;
  std::uint64_t rowBytes = 0;
  std::uint32_t dataType = 0;
};

// A matrix view of a buffer; keeps the buffer alive.
struct Matrix {
  std::shared_ptr<Buffer> buffer;
  std::shared_ptr<const MatrixDescriptor> descriptor;
};

class CommandBuffer {
 public:
  virtual ~CommandBuffer() = default;
  virtual void commit() = 0;
  virtual void waitUntilCompleted() = 0;
  // After completion: what went wrong, if anything (the load itself never asks).
  virtual std::optional<std::string> error() const = 0;
};

class MatrixMultiplication {
 public:
  virtual ~MatrixMultiplication() = default;
  virtual void encodeToCommandBuffer(CommandBuffer& commandBuffer, const Matrix& left,
                                     const Matrix& right, const Matrix& result) = 0;
};

class CommandQueue {
 public:
  virtual ~CommandQueue() = default;
  virtual std::shared_ptr<CommandBuffer> commandBuffer() = 0;
};

// Where a device's facts come from, for diagnostics; the app never asks.
struct DeviceDetails {
  std::string stack;         // the driver stack, as it names itself
  std::string pciAddress;    // empty where unknown
  std::string memorySource;  // what the working-set figure was read from
};

class Device {
 public:
  virtual ~Device() = default;
  virtual std::string name() const = 0;
  virtual std::uint64_t recommendedMaxWorkingSetSize() const = 0;
  virtual DeviceDetails details() const { return {}; }
  virtual std::shared_ptr<CommandQueue> newCommandQueue() = 0;
  virtual std::shared_ptr<Buffer> newBufferWithBytes(const void* bytes, std::uint64_t length,
                                                     std::uint64_t options) = 0;
  // A buffer of `length` bytes holding `pattern` repeated, written by the device itself: no host
  // copy of the contents. `length` is a multiple of `patternLength` (1, 2, 4, ... 128 bytes).
  virtual std::shared_ptr<Buffer> newBufferWithPattern(const void* pattern,
                                                       std::uint64_t patternLength,
                                                       std::uint64_t length,
                                                       std::uint64_t options) = 0;
  virtual std::shared_ptr<Buffer> newBufferWithLength(std::uint64_t length,
                                                      std::uint64_t options) = 0;
  virtual std::shared_ptr<MatrixMultiplication> newMatrixMultiplication(
      std::uint64_t resultRows, std::uint64_t resultColumns, std::uint64_t interiorColumns) = 0;
};

// What a backend provides beside its devices: the platform-level constructors.
class GPUPlatform {
 public:
  virtual ~GPUPlatform() = default;
  virtual std::vector<std::shared_ptr<Device>> copyAllDevices() = 0;
  virtual std::shared_ptr<Device> createSystemDefaultDevice() = 0;
  virtual std::shared_ptr<const MatrixDescriptor> matrixDescriptor(std::uint64_t rows,
                                                                   std::uint64_t columns,
                                                                   std::uint64_t rowBytes,
                                                                   std::uint32_t dataType);
  virtual std::shared_ptr<Matrix> matrix(std::shared_ptr<Buffer> buffer,
                                         std::shared_ptr<const MatrixDescriptor> descriptor);
};

std::vector<std::shared_ptr<Device>> MTLCopyAllDevices();
std::shared_ptr<Device> MTLCreateSystemDefaultDevice();
std::shared_ptr<const MatrixDescriptor> matrixDescriptorWithRows(std::uint64_t rows,
                                                                 std::uint64_t columns,
                                                                 std::uint64_t rowBytes,
                                                                 std::uint32_t dataType);
std::shared_ptr<Matrix> initMatrixWithBuffer(std::shared_ptr<Buffer> buffer,
                                             std::shared_ptr<const MatrixDescriptor> descriptor);

// The process's GPU platform; none means no devices. Only the process's composition
// (composition/composition.h) sets it.
void installGPUPlatform(std::shared_ptr<GPUPlatform> platform);
std::shared_ptr<GPUPlatform> installedGPUPlatform();

}  // namespace ventra::gpu::platform
