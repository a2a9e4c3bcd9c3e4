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
// What shaped the code that runs the products: a library's own (CLBlast), or our shader with a
// tile the caller gave, one tuned on the device, or the default for its kind of device.
enum class KernelSource { library, given, tuned, deviceDefault };

struct DeviceDetails {
  std::string stack;         // the driver stack, as it names itself
  std::string pciAddress;    // empty where unknown
  std::string memorySource;  // what the working-set figure was read from
  std::string driver;        // the driver and its version, where the stack tells
  std::string kernel;        // what runs the products, and why that one
  KernelSource kernelSource = KernelSource::library;
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

// Work on its way through a device, a block of rows at a time where the stack cuts it so.
class Submission {
 public:
  virtual ~Submission() = default;
  // Blocks until the work is done; what went wrong, if anything.
  virtual std::optional<std::string> wait() = 0;
  // Blocks for at most `seconds`; true once the work is done (wait() then returns at once).
  virtual bool waitFor(double seconds) = 0;
  // Starts nothing more: what the device runs now finishes, the rest never runs. Not an error.
  virtual void stop() = 0;
};

// A device's temperature and the limit its driver sets, in degrees Celsius.
struct DeviceTemperature {
  double celsius = 0;
  std::optional<double> criticalCelsius;
  // A limit the driver reported at or below 0 °C: no card runs below it, so it is no limit, and
  // kept here only to be said.
  std::optional<double> ignoredCriticalCelsius;
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
  // Readies the device's products now, where its driver would otherwise build their code inside
  // the first one (lavapipe, and CLBlast on any driver, compile at first use: seconds, more
  // without a cache), so that the first product is work like every other.
  virtual void prepareProducts(std::size_t /*device*/) {}
  // What the device's driver reports of its temperature now; nothing where it reports none.
  virtual std::optional<DeviceTemperature> temperature(std::size_t /*device*/) {
    return std::nullopt;
  }
  // Why the stack could not give what was last asked of it where that was not simply absent (a
  // driver that failed to start, a device that could not be opened, memory refused), in words;
  // nothing otherwise. Diagnostics only: the port's answers stay null.
  virtual std::optional<std::string> problem() { return std::nullopt; }
};

}  // namespace ventra::gpu::platform
