#include "gpu/platform/linux/row_blocks.h"

#include <algorithm>

namespace ventra::gpu::linux_gpu {

std::vector<RowBlock> rowBlocks(std::uint64_t rows, std::uint64_t columns, std::uint64_t interior,
                                std::uint64_t maxFlops, std::uint64_t leastRows) {
  constexpr std::uint64_t kTile = 64;  // whole tiles for the kernel where blocks allow it
  std::uint64_t flopsPerRow = std::max<std::uint64_t>(2 * columns * interior, 1);
  std::uint64_t perBlock = std::max<std::uint64_t>(maxFlops / flopsPerRow, 1);
  if (perBlock > kTile) perBlock -= perBlock % kTile;
  perBlock = std::max(perBlock, leastRows);
  std::vector<RowBlock> blocks;
  for (std::uint64_t first = 0; first < rows; first += perBlock)
    blocks.push_back({first, std::min(perBlock, rows - first)});
  return blocks;
}

std::uint64_t interiorPerSubmission(std::uint64_t rows, std::uint64_t columns,
                                    std::uint64_t interior, std::uint64_t maxFlops) {
  const std::uint64_t flopsPerElement = std::max<std::uint64_t>(2 * rows * columns, 1);
  const std::uint64_t most = std::max<std::uint64_t>(maxFlops / flopsPerElement, 1);
  if (most >= interior) return interior;
  const std::uint64_t pieces = (interior + most - 1) / most;
  return (interior + pieces - 1) / pieces;
}

}  // namespace ventra::gpu::linux_gpu
