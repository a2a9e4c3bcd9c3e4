#pragma once

// What a Linux GPU stack (OpenCL, Vulkan) is asked to be, the same for both: which devices it
// offers, how it cuts and bounds its work, and the hooks tests and diagnostics watch it by.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "gpu/platform/linux/row_blocks.h"
#include "gpu/platform/tile/kernel_tile.h"

namespace ventra::gpu::linux_gpu {

// Device memory beyond a load's two matrices: scratch, staging, anything a stack needs.
inline constexpr std::uint64_t kDefaultExtraMemoryBytes = 256ull << 20;

// Device memory a stack holds now and at most, counted where it allocates and frees.
class MemoryMeter {
 public:
  void allocated(std::uint64_t bytes) {
    auto now = held_ += bytes;
    auto peak = peak_.load();
    while (now > peak && !peak_.compare_exchange_weak(peak, now)) {
    }
  }
  void released(std::uint64_t bytes) { held_ -= bytes; }
  std::uint64_t held() const { return held_; }
  std::uint64_t peak() const { return peak_; }

 private:
  std::atomic<std::uint64_t> held_{0}, peak_{0};
};

struct BackendOptions {
  // Also offer CPU devices (PoCL, lavapipe) after the GPUs: for tests and machines without one.
  bool includeCpuDevices = false;
  // The most work one submission may carry (row_blocks.h), and on a CPU device, which works
  // a thousand times slower, the lesser of the two.
  std::uint64_t maxFlopsPerSubmission = kDefaultMaxFlopsPerSubmission;
  std::uint64_t cpuMaxFlopsPerSubmission = kCpuMaxFlopsPerSubmission;
  // Device memory a stack may hold beyond the matrices of the products it runs.
  std::uint64_t extraMemoryBytes = kDefaultExtraMemoryBytes;
  // Vulkan: bind at most this much of a buffer at once (0: the device's own limit), so tests
  // reach the windowed path at small sizes.
  std::uint64_t maxBindingBytes = 0;
  // Vulkan: run under the Khronos validation layer, each message to onValidationMessage.
  bool validate = false;
  std::function<void(const std::string&)> onValidationMessage;
  // Told of each block of rows as it is submitted (tests, diagnostics).
  std::function<void(const RowBlock&)> onSubmission;
  // Counts the device memory the stack allocates, where set.
  std::shared_ptr<MemoryMeter> meter;
  // Vulkan: the shader's tile on every device (the tuner, tests); nothing: the one tuned on the
  // device (tileStore), else its class's default.
  std::optional<tile::KernelTile> tile;
  // Vulkan: where tuned tiles are kept (tile/tile_store.h); empty: none is read.
  std::filesystem::path tileStore;

  std::uint64_t maxFlopsPerSubmissionOn(bool cpuDevice) const {
    return cpuDevice ? std::min(maxFlopsPerSubmission, cpuMaxFlopsPerSubmission)
                     : maxFlopsPerSubmission;
  }

  static BackendOptions withCpuDevices(bool include = true) {
    BackendOptions options;
    options.includeCpuDevices = include;
    return options;
  }
};

}  // namespace ventra::gpu::linux_gpu
