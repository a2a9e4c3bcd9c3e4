#pragma once

// Device memory the OpenCL backend holds, counted, and the one scratch buffer a submission lends
// CLBlast: sized for the largest block of the product and reused by every block, with blocks cut
// small enough that it stays within the stack's budget for memory beyond the matrices.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gpu/platform/backend.h"
#include "gpu/platform/linux/backend_options.h"
#include "gpu/platform/opencl/cl_handles.h"
#include "gpu/platform/opencl/opencl_device.h"

namespace ventra::gpu::opencl {

// A buffer on the device, counted by the meter (where there is one) while it lives.
class MeteredMemory {
 public:
  // Nothing where the device refuses it.
  static std::optional<MeteredMemory> create(const DeviceHandle& device,
                                             std::shared_ptr<linux_gpu::MemoryMeter> meter,
                                             cl_mem_flags flags, std::uint64_t bytes,
                                             const void* contents);
  MeteredMemory(MeteredMemory&&) = default;
  MeteredMemory& operator=(MeteredMemory&&) = default;
  ~MeteredMemory();
  cl_mem get() const { return memory_.get(); }
  std::uint64_t bytes() const { return bytes_; }

 private:
  MeteredMemory(MemoryHandle memory, std::uint64_t bytes,
                std::shared_ptr<linux_gpu::MemoryMeter> meter);
  MemoryHandle memory_;
  std::uint64_t bytes_ = 0;
  std::shared_ptr<linux_gpu::MemoryMeter> meter_;
};

// One submission: a block of rows over interior elements [innerFirst, innerFirst + inner). The
// first piece of a block writes its rows, the later ones add to them.
struct Piece {
  linux_gpu::RowBlock rows;
  std::uint64_t innerFirst = 0, inner = 0;
};

// How one product runs: its pieces and the scratch they share (null: none needed), or why it
// cannot run, with the bytes it asked for.
struct ScratchPlan {
  std::vector<Piece> pieces;
  cl_mem buffer = nullptr;
  std::optional<std::string> error;
};

class Scratch {
 public:
  Scratch(std::shared_ptr<DeviceHandle> device,
          std::shared_ptr<const linux_gpu::BackendOptions> options)
      : device_(std::move(device)), options_(std::move(options)) {}
  ScratchPlan plan(cl_command_queue queue, const platform::MatrixProduct& product);

 private:
  std::shared_ptr<DeviceHandle> device_;
  std::shared_ptr<const linux_gpu::BackendOptions> options_;
  std::optional<MeteredMemory> buffer_;
};

}  // namespace ventra::gpu::opencl
