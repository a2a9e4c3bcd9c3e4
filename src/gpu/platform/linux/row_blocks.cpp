#include "gpu/platform/linux/row_blocks.h"

#include <algorithm>

namespace ventra::gpu::linux_gpu {

std::vector<RowBlock> rowBlocks(std::uint64_t rows, std::uint64_t columns, std::uint64_t interior,
                                std::uint64_t maxFlops) {
  constexpr std::uint64_t kTile = 64;  // whole tiles for the kernel where blocks allow it
  std::uint64_t flopsPerRow = std::max<std::uint64_t>(2 * columns * interior, 1);
  std::uint64_t perBlock = std::max<std::uint64_t>(maxFlops / flopsPerRow, 1);
  if (perBlock > kTile) perBlock -= perBlock % kTile;
  std::vector<RowBlock> blocks;
  for (std::uint64_t first = 0; first < rows; first += perBlock)
    blocks.push_back({first, std::min(perBlock, rows - first)});
  return blocks;
}

}  // namespace ventra::gpu::linux_gpu
