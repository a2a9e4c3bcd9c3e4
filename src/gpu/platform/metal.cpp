#include "gpu/platform/metal.h"

#include <mutex>

namespace ventra::gpu::platform {
namespace {

struct Installed {
  std::mutex mutex;
  std::shared_ptr<GPUPlatform> platform;
};

Installed& installed() {
  static Installed instance;
  return instance;
}

}  // namespace

std::shared_ptr<const MatrixDescriptor> GPUPlatform::matrixDescriptor(std::uint64_t rows,
                                                                      std::uint64_t columns,
                                                                      std::uint64_t rowBytes,
                                                                      std::uint32_t dataType) {
  return std::make_shared<const MatrixDescriptor>(
      MatrixDescriptor{rows, columns, rowBytes, dataType});
}

std::shared_ptr<Matrix> GPUPlatform::matrix(std::shared_ptr<Buffer> buffer,
                                            std::shared_ptr<const MatrixDescriptor> descriptor) {
  return std::make_shared<Matrix>(Matrix{std::move(buffer), std::move(descriptor)});
}

void installGPUPlatform(std::shared_ptr<GPUPlatform> platform) {
  std::lock_guard lock(installed().mutex);
  installed().platform = std::move(platform);
}

std::shared_ptr<GPUPlatform> installedGPUPlatform() {
  std::lock_guard lock(installed().mutex);
  return installed().platform;
}

std::vector<std::shared_ptr<Device>> MTLCopyAllDevices() {
  auto platform = installedGPUPlatform();
  return platform ? platform->copyAllDevices() : std::vector<std::shared_ptr<Device>>{};
}

std::shared_ptr<Device> MTLCreateSystemDefaultDevice() {
  auto platform = installedGPUPlatform();
  return platform ? platform->createSystemDefaultDevice() : nullptr;
}

std::shared_ptr<const MatrixDescriptor> matrixDescriptorWithRows(std::uint64_t rows,
                                                                 std::uint64_t columns,
                                                                 std::uint64_t rowBytes,
                                                                 std::uint32_t dataType) {
  auto platform = installedGPUPlatform();
  return platform ? platform->matrixDescriptor(rows, columns, rowBytes, dataType) : nullptr;
}

std::shared_ptr<Matrix> initMatrixWithBuffer(std::shared_ptr<Buffer> buffer,
                                             std::shared_ptr<const MatrixDescriptor> descriptor) {
  auto platform = installedGPUPlatform();
  return platform ? platform->matrix(std::move(buffer), std::move(descriptor)) : nullptr;
}

}  // namespace ventra::gpu::platform
