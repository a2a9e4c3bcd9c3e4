#pragma once

// How a product is cut for a device that binds at most so many bytes of a buffer at once
// (lavapipe: 128 MiB, less than one 1 GiB matrix): each dispatch sees a window of each matrix,
// bound at an offset the device accepts, and a product's interior is walked in chunks that
// accumulate into the result. Blocks of rows bound each submission's work as on every stack.
// No Vulkan here: plain arithmetic, tested on its own.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gpu/platform/backend.h"
#include "gpu/platform/linux/row_blocks.h"

namespace ventra::gpu::vulkan {

// A range of a buffer bound for one dispatch, and where the window's first element lies in it.
struct Binding {
  std::uint64_t offset = 0;  // bytes, a multiple of the device's alignment
  std::uint64_t range = 0;   // bytes
  std::uint32_t firstElement = 0;
  friend bool operator==(const Binding&, const Binding&) = default;
};

// One dispatch: rows × columns of the result over `interior` elements of the product.
struct Dispatch {
  Binding left, right, result;
  std::uint32_t rows = 0, columns = 0, interior = 0;
  bool accumulate = false;  // adds to what earlier dispatches of the block wrote
};

// The dispatches of one submission: a block of the result's rows, over the whole interior or
// one piece of it.
struct SubmissionPlan {
  linux_gpu::RowBlock rows;
  std::vector<Dispatch> dispatches;
};

struct DeviceLimits {
  std::uint64_t maxBindingBytes = 0;   // maxStorageBufferRange, or less
  std::uint64_t bindingAlignment = 1;  // minStorageBufferOffsetAlignment
};

struct ProductPlan {
  std::vector<SubmissionPlan> submissions;
  std::optional<std::string> error;  // the product cannot be cut for this device
};

// `leastRows`: the fewest rows the shader works at once (its tile's); where a block of them is
// more than `maxFlopsPerSubmission`, each piece of its interior is a submission of its own.
ProductPlan planProduct(const platform::MatrixProduct& product, const DeviceLimits& limits,
                        std::uint64_t maxFlopsPerSubmission, std::uint64_t leastRows = 1);

}  // namespace ventra::gpu::vulkan
