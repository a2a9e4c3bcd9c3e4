#pragma once

// amdgpu resets the GPU when one submission runs past its lockup timeout (10 s), and a whole
// 16384³ product can come close on an RX 580. A product is therefore submitted in blocks of
// result rows, each small enough to finish well inside that limit; the work is unchanged.

#include <cstdint>
#include <vector>

namespace ventra::gpu::linux_gpu {

// About half a second of an RX 580 at a little over 2 TFLOP/s.
inline constexpr std::uint64_t kDefaultMaxFlopsPerSubmission = 1ull << 40;

struct RowBlock {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  friend bool operator==(const RowBlock&, const RowBlock&) = default;
};

// Blocks covering rows 0..rows-1 in order, each doing at most `maxFlops` (2 × columns ×
// interior per row) where one row allows it, and a multiple of 64 rows where more than 64 fit.
std::vector<RowBlock> rowBlocks(std::uint64_t rows, std::uint64_t columns, std::uint64_t interior,
                                std::uint64_t maxFlops);

}  // namespace ventra::gpu::linux_gpu
