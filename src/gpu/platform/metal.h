#pragma once

// The GPU port: device enumeration, the default device, buffers, the matrix descriptor, matrices
// and the matrix multiplication kernel, shaped like the platform they come from and built once
// over whichever backend the process's composition installed (backend.h). Objects are
// reference counted (shared_ptr); a call that yields nothing returns null. With no backend there
// are no devices.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gpu/platform/backend.h"

namespace ventra::gpu::platform {

inline constexpr std::uint64_t MTLResourceStorageModeManaged = 16;  // resource options 16
inline constexpr std::uint32_t MPSDataTypeFloat32 = 0x10000020;

class Buffer final {
 public:
  Buffer(std::shared_ptr<DeviceMemory> memory, std::uint64_t length, const GPUPlatform* backend,
         std::size_t device)
      : memory_(std::move(memory)), length_(length), backend_(backend), device_(device) {}
  std::uint64_t length() const { return length_; }
  // Copies bytes back to the host; false when the device cannot. Only diagnostics read back.
  bool readBytes(std::uint64_t offset, void* destination, std::uint64_t count);
  const std::shared_ptr<DeviceMemory>& memory() const { return memory_; }
  bool belongsTo(const GPUPlatform* backend, std::size_t device) const {
    return backend_ == backend && device_ == device;
  }

 private:
  std::shared_ptr<DeviceMemory> memory_;
  std::uint64_t length_;
  const GPUPlatform* backend_;  // a backend works only on memory it made, on that device
  std::size_t device_;
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

class CommandBuffer final {
 public:
  CommandBuffer(std::shared_ptr<GPUPlatform> backend, std::size_t device)
      : backend_(std::move(backend)), device_(device) {}
  void commit();
  void waitUntilCompleted();
  // Waits at most `seconds`; true once the work has finished (or there is none to wait for).
  bool waitUntilCompleted(double seconds);
  // Ends the work after the part the device is running now; the rest never runs.
  void stop();
  // After completion: what went wrong, if anything (the load itself never asks).
  std::optional<std::string> error() const { return error_; }
  // Matrices on another device are refused: the product ends in error(), not in the backend.
  void encode(const Matrix& left, const Matrix& right, const Matrix& result, MatrixProduct product);

 private:
  std::shared_ptr<GPUPlatform> backend_;
  std::size_t device_;
  std::vector<MatrixProduct> encoded_;
  std::shared_ptr<Submission> submission_;
  std::optional<std::string> error_;
};

class MatrixMultiplication final {
 public:
  MatrixMultiplication(std::uint64_t rows, std::uint64_t columns, std::uint64_t interior)
      : rows_(rows), columns_(columns), interior_(interior) {}
  void encodeToCommandBuffer(CommandBuffer& commandBuffer, const Matrix& left, const Matrix& right,
                             const Matrix& result);

 private:
  std::uint64_t rows_, columns_, interior_;
};

class CommandQueue final {
 public:
  CommandQueue(std::shared_ptr<GPUPlatform> backend, std::size_t device)
      : backend_(std::move(backend)), device_(device) {}
  std::shared_ptr<CommandBuffer> commandBuffer();

 private:
  std::shared_ptr<GPUPlatform> backend_;
  std::size_t device_;
};

class Device final {
 public:
  Device(std::shared_ptr<GPUPlatform> backend, DeviceFacts facts)
      : backend_(std::move(backend)), facts_(std::move(facts)) {}
  std::string name() const { return facts_.name; }
  std::uint64_t recommendedMaxWorkingSetSize() const { return facts_.workingSetBytes; }
  DeviceDetails details() const { return facts_.details; }
  // What the driver reports now; diagnostics only.
  std::optional<DeviceTemperature> temperature() const;
  // Why the last call that yielded nothing did (GPUPlatform::problem); diagnostics only.
  std::optional<std::string> problem() const { return backend_->problem(); }
  std::shared_ptr<CommandQueue> newCommandQueue();
  std::shared_ptr<Buffer> newBufferWithBytes(const void* bytes, std::uint64_t length,
                                             std::uint64_t options);
  std::shared_ptr<Buffer> newBufferWithLength(std::uint64_t length, std::uint64_t options);
  std::shared_ptr<MatrixMultiplication> newMatrixMultiplication(std::uint64_t resultRows,
                                                                std::uint64_t resultColumns,
                                                                std::uint64_t interiorColumns);

 private:
  std::shared_ptr<Buffer> newBuffer(std::uint64_t length, const void* contents);

  std::shared_ptr<GPUPlatform> backend_;
  DeviceFacts facts_;
};

std::vector<std::shared_ptr<Device>> MTLCopyAllDevices();
std::shared_ptr<Device> MTLCreateSystemDefaultDevice();
std::shared_ptr<const MatrixDescriptor> matrixDescriptorWithRows(std::uint64_t rows,
                                                                 std::uint64_t columns,
                                                                 std::uint64_t rowBytes,
                                                                 std::uint32_t dataType);
std::shared_ptr<Matrix> initMatrixWithBuffer(std::shared_ptr<Buffer> buffer,
                                             std::shared_ptr<const MatrixDescriptor> descriptor);

// The process's GPU backend; none means no devices. Only the process's composition
// (composition/composition.h) sets it.
void installGPUPlatform(std::shared_ptr<GPUPlatform> platform);
std::shared_ptr<GPUPlatform> installedGPUPlatform();

}  // namespace ventra::gpu::platform
