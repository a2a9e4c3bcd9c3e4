#include "gpu/platform/opencl/scratch.h"

#include <clblast.h>

#include <algorithm>

namespace ventra::gpu::opencl {
namespace {

using linux_gpu::RowBlock;

// CLBlast pads a block's rows to its work-group tile (64 in its defaults): fewer cost as much.
constexpr std::uint64_t kLeastRows = 64;

// CLBlast's scratch for one piece, in the column-major form the backend calls it with.
std::optional<std::size_t> pieceScratch(cl_command_queue queue, const platform::MatrixProduct& p,
                                        const Piece& piece) {
  using clblast::Layout, clblast::Transpose;
  std::size_t bytes = 0;
  auto status = clblast::GemmTempBufferSize<float>(
      Layout::kColMajor, Transpose::kNo, Transpose::kNo, p.columns, piece.rows.count, piece.inner,
      piece.innerFirst * (p.rightRowBytes / 4), p.rightRowBytes / 4,
      piece.rows.first * (p.leftRowBytes / 4) + piece.innerFirst, p.leftRowBytes / 4,
      piece.rows.first * (p.resultRowBytes / 4), p.resultRowBytes / 4, &queue, bytes);
  if (status != clblast::StatusCode::kSuccess) return std::nullopt;
  return bytes;
}

// The product's blocks of rows, each whole or in pieces of its interior.
std::vector<Piece> piecesOf(const platform::MatrixProduct& p, std::uint64_t flops) {
  std::vector<Piece> pieces;
  for (const RowBlock& block :
       linux_gpu::rowBlocks(p.rows, p.columns, p.interior, flops, kLeastRows)) {
    const std::uint64_t inner =
        linux_gpu::interiorPerSubmission(block.count, p.columns, p.interior, flops);
    for (std::uint64_t first = 0; first < p.interior; first += inner)
      pieces.push_back({block, first, std::min(inner, p.interior - first)});
  }
  return pieces;
}

}  // namespace

MeteredMemory::MeteredMemory(MemoryHandle memory, std::uint64_t bytes,
                             std::shared_ptr<linux_gpu::MemoryMeter> meter)
    : memory_(std::move(memory)), bytes_(bytes), meter_(std::move(meter)) {
  if (meter_) meter_->allocated(bytes_);
}

MeteredMemory::~MeteredMemory() {
  if (meter_ && memory_) meter_->released(bytes_);
}

std::optional<MeteredMemory> MeteredMemory::create(const DeviceHandle& device,
                                                   std::shared_ptr<linux_gpu::MemoryMeter> meter,
                                                   cl_mem_flags flags, std::uint64_t bytes,
                                                   const void* contents) {
  cl_int error = CL_SUCCESS;
  MemoryHandle memory(
      clCreateBuffer(device.context.get(), flags, bytes, const_cast<void*>(contents), &error));
  if (error != CL_SUCCESS || !memory) return std::nullopt;
  return MeteredMemory(std::move(memory), bytes, std::move(meter));
}

// Halves the pieces until the largest scratch fits the budget; grows the buffer only when a
// product needs more than the last one did.
ScratchPlan Scratch::plan(cl_command_queue queue, const platform::MatrixProduct& p) {
  std::uint64_t flops = options_->maxFlopsPerSubmissionOn(device_->cpu);
  for (;;) {
    ScratchPlan plan{piecesOf(p, flops), nullptr, {}};
    std::size_t bytes = 0;
    for (const Piece& piece : plan.pieces) {
      auto needed = pieceScratch(queue, p, piece);
      if (!needed) return {{}, nullptr, "CLBlast could not size its scratch"};
      bytes = std::max(bytes, *needed);
    }
    const bool single = plan.pieces.empty() ||
                        (plan.pieces.front().rows.count == 1 && plan.pieces.front().inner == 1);
    if (bytes > options_->extraMemoryBytes && !single) {
      flops /= 2;
      continue;
    }
    const std::string asked = std::to_string(bytes) + " bytes of scratch for CLBlast";
    if (bytes > options_->extraMemoryBytes || bytes > device_->maxAllocation)
      return {{},
              nullptr,
              asked + " is more than this device or the budget of " +
                  std::to_string(options_->extraMemoryBytes) + " bytes allows"};
    if (bytes > 0 && (!buffer_ || buffer_->bytes() < bytes)) {
      buffer_.reset();
      buffer_ = MeteredMemory::create(*device_, options_->meter, CL_MEM_READ_WRITE, bytes, nullptr);
      if (!buffer_) return {{}, nullptr, "the device refused " + asked};
    }
    if (bytes > 0) plan.buffer = buffer_->get();
    return plan;
  }
}

}  // namespace ventra::gpu::opencl
