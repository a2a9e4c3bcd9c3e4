#include "gpu/gpu_workload.h"

#include <cmath>
#include <limits>
#include <utility>

namespace ventra {
namespace pf = gpu::platform;
using Phase = GPULoadObserver::Phase;

namespace {

bool sizeFits(std::int64_t n) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  return n >= 0 && (n == 0 || n <= kMax / n / 4);
}

}  // namespace

std::int64_t largestLoadSize(std::uint64_t bytes) {
  auto n = static_cast<std::int64_t>(std::sqrt(static_cast<double>(bytes / 8)));
  while (n > 0 && static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n) * 8 > bytes) --n;
  return n;
}

GPUWorkload::GPUWorkload(std::int64_t n, GPULoadObserver& observer) : n_(n) {
  ready_ = prepare(observer);
}

bool GPUWorkload::prepare(GPULoadObserver& observer) {
  auto gaveUp = [&](const char* step) {
    observer.gaveUp(step);
    return false;
  };
  if (!sizeFits(n_)) return gaveUp("matrix size");
  device_ = pf::MTLCreateSystemDefaultDevice();
  if (!device_) return gaveUp("default device");
  const auto size = static_cast<std::uint64_t>(n_);
  {
    PhaseScope scope(observer, Phase::fill);
    ones_ = HostArray::filled(size * size, 1.0f);
  }
  if (size > 0 && !ones_.data()) return gaveUp("host array");
  queue_ = device_->newCommandQueue();
  if (!queue_) return gaveUp("command queue");
  first_ = queue_->commandBuffer();
  if (!first_) return gaveUp("command buffer");
  const auto rowBytes = size * 4;
  const auto length = size * rowBytes;
  bufferA_ = device_->newBufferWithBytes(ones_.data(), length, pf::MTLResourceStorageModeManaged);
  if (!bufferA_) return gaveUp("buffer A");
  bufferC_ = device_->newBufferWithLength(length, pf::MTLResourceStorageModeManaged);
  if (!bufferC_) return gaveUp("buffer C");
  descriptor_ = pf::matrixDescriptorWithRows(size, size, rowBytes, pf::MPSDataTypeFloat32);
  matrixA_ = pf::initMatrixWithBuffer(bufferA_, descriptor_);
  matrixC_ = pf::initMatrixWithBuffer(bufferC_, descriptor_);
  kernel_ = device_->newMatrixMultiplication(size, size, size);
  if (!descriptor_ || !matrixA_ || !matrixC_ || !kernel_) return gaveUp("matrix kernel");
  return true;
}

std::shared_ptr<pf::CommandBuffer> GPUWorkload::encode(int times) {
  auto commands = first_ ? std::exchange(first_, nullptr) : queue_->commandBuffer();
  if (!commands) return nullptr;
  for (int i = 0; i < times; ++i)
    kernel_->encodeToCommandBuffer(*commands, *matrixA_, *matrixA_, *matrixC_);
  return commands;
}

}  // namespace ventra
