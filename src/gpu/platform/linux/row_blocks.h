#pragma once

// amdgpu resets the GPU when one submission runs past its lockup timeout (10 s), and a whole
// 16384³ product can come close on an RX 580. A product is therefore submitted in blocks of
// result rows, each small enough to finish well inside that limit; the work is unchanged. The
// same cut bounds how long a stop waits: what is submitted runs to its end. A CPU device (PoCL,
// lavapipe) works a thousand times slower, so its submissions are a thousand times smaller, and
// where even the fewest rows a kernel can work are too much, a block's interior is cut as well:
// its first piece writes the rows, the later ones add to them.

#include <cstdint>
#include <vector>

namespace ventra::gpu::linux_gpu {

// About half a second of an RX 580 at a little over 2 TFLOP/s.
inline constexpr std::uint64_t kDefaultMaxFlopsPerSubmission = 1ull << 40;
// A tenth to a half of a second of a CPU device at 2 to 10 GFLOP/s (lavapipe, PoCL on a few cores).
inline constexpr std::uint64_t kCpuMaxFlopsPerSubmission = 1ull << 27;

struct RowBlock {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  friend bool operator==(const RowBlock&, const RowBlock&) = default;
};

// Blocks covering rows 0..rows-1 in order, each doing at most `maxFlops` (2 × columns ×
// interior per row) where `leastRows` rows allow it, and a multiple of 64 rows where more than 64
// fit. `leastRows`: the fewest a kernel works at once (its tile), so fewer would cost as much.
std::vector<RowBlock> rowBlocks(std::uint64_t rows, std::uint64_t columns, std::uint64_t interior,
                                std::uint64_t maxFlops, std::uint64_t leastRows = 1);

// How much of the interior one submission of a block of `rows` rows takes: all of it where the
// block is within `maxFlops`, else pieces of an even size that are (one element at least).
std::uint64_t interiorPerSubmission(std::uint64_t rows, std::uint64_t columns,
                                    std::uint64_t interior, std::uint64_t maxFlops);

}  // namespace ventra::gpu::linux_gpu
