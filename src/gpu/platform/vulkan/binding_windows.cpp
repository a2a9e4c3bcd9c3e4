#include "gpu/platform/vulkan/binding_windows.h"

#include <algorithm>
#include <limits>

namespace ventra::gpu::vulkan {
namespace {

constexpr std::uint64_t kFloat = 4;

// Elements [first, first + count) of a buffer, bound from the aligned offset at or below them.
Binding bind(std::uint64_t first, std::uint64_t count, std::uint64_t alignment) {
  const std::uint64_t start = first * kFloat;
  const std::uint64_t offset = start - start % alignment;
  return {offset, start + count * kFloat - offset,
          static_cast<std::uint32_t>((start - offset) / kFloat)};
}

// Rows of `stride` elements, the last `width` wide, that fit a window after alignment slack.
std::uint64_t rowsThatFit(std::uint64_t stride, std::uint64_t width, const DeviceLimits& limits) {
  const std::uint64_t usable = limits.maxBindingBytes - (limits.bindingAlignment - 1);
  if (limits.maxBindingBytes < limits.bindingAlignment || usable < width * kFloat) return 0;
  return (usable - width * kFloat) / (stride * kFloat) + 1;
}

struct Cut {
  std::uint64_t rows = 0, interior = 0;
};

// The largest window of rows and of interior elements every matrix's binding can hold; the
// element offsets must also fit the shader's 32-bit indices.
std::optional<Cut> largestCut(const platform::MatrixProduct& p, const DeviceLimits& limits) {
  const std::uint64_t left = p.leftRowBytes / kFloat, right = p.rightRowBytes / kFloat,
                      result = p.resultRowBytes / kFloat;
  DeviceLimits bounded = limits;
  bounded.maxBindingBytes =
      std::min<std::uint64_t>(limits.maxBindingBytes, std::numeric_limits<std::uint32_t>::max());
  Cut cut{std::min(rowsThatFit(left, p.interior, bounded), rowsThatFit(result, p.columns, bounded)),
          rowsThatFit(right, p.columns, bounded)};
  if (cut.rows == 0 || cut.interior == 0) return std::nullopt;
  return cut;
}

// Pieces of at most `most` that split `total` as evenly as whole pieces can.
std::uint64_t evenShare(std::uint64_t total, std::uint64_t most) {
  const std::uint64_t pieces = (total + most - 1) / most;
  return (total + pieces - 1) / pieces;
}

Dispatch dispatch(const platform::MatrixProduct& p, std::uint64_t row, std::uint64_t rows,
                  std::uint64_t inner, std::uint64_t interior, const DeviceLimits& limits) {
  const std::uint64_t left = p.leftRowBytes / kFloat, right = p.rightRowBytes / kFloat,
                      result = p.resultRowBytes / kFloat;
  Dispatch d;
  d.left = bind(row * left + inner, (rows - 1) * left + interior, limits.bindingAlignment);
  d.right = bind(inner * right, (interior - 1) * right + p.columns, limits.bindingAlignment);
  d.result = bind(row * result, (rows - 1) * result + p.columns, limits.bindingAlignment);
  d.rows = static_cast<std::uint32_t>(rows);
  d.columns = static_cast<std::uint32_t>(p.columns);
  d.interior = static_cast<std::uint32_t>(interior);
  d.accumulate = inner > 0;
  return d;
}

// The dispatches for `block` over interior elements [innerFirst, innerEnd), in windows of
// `rowsEach` rows and `innerEach` elements.
SubmissionPlan submissionFor(const platform::MatrixProduct& p, const linux_gpu::RowBlock& block,
                             std::uint64_t innerFirst, std::uint64_t innerEnd,
                             std::uint64_t innerEach, std::uint64_t rowsEach,
                             const DeviceLimits& limits) {
  SubmissionPlan submission{block, {}};
  const std::uint64_t end = block.first + block.count;
  for (std::uint64_t row = block.first; row < end; row += rowsEach)
    for (std::uint64_t inner = innerFirst; inner < innerEnd; inner += innerEach)
      submission.dispatches.push_back(dispatch(p, row, std::min(rowsEach, end - row), inner,
                                               std::min(innerEach, innerEnd - inner), limits));
  return submission;
}

}  // namespace

ProductPlan planProduct(const platform::MatrixProduct& p, const DeviceLimits& limits,
                        std::uint64_t maxFlopsPerSubmission, std::uint64_t leastRows) {
  ProductPlan plan;
  if (p.rows == 0 || p.columns == 0) return plan;
  if (p.interior == 0 || p.columns > std::numeric_limits<std::uint32_t>::max()) {
    plan.error = "a product of this shape is not supported";
    return plan;
  }
  auto cut = largestCut(p, limits);
  if (!cut) {
    plan.error = "one row of these matrices is more than the device binds at once (" +
                 std::to_string(limits.maxBindingBytes) + " bytes)";
    return plan;
  }
  for (const auto& block :
       linux_gpu::rowBlocks(p.rows, p.columns, p.interior, maxFlopsPerSubmission, leastRows)) {
    const std::uint64_t piece =
        linux_gpu::interiorPerSubmission(block.count, p.columns, p.interior, maxFlopsPerSubmission);
    const std::uint64_t interior = evenShare(p.interior, std::min(cut->interior, piece));
    const std::uint64_t rowsEach = evenShare(block.count, cut->rows);
    if (piece >= p.interior) {
      plan.submissions.push_back(
          submissionFor(p, block, 0, p.interior, interior, rowsEach, limits));
      continue;
    }
    for (std::uint64_t inner = 0; inner < p.interior; inner += interior)
      plan.submissions.push_back(submissionFor(
          p, block, inner, std::min(inner + interior, p.interior), interior, rowsEach, limits));
  }
  return plan;
}

}  // namespace ventra::gpu::vulkan
