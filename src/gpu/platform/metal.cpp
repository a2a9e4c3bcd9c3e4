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

bool Buffer::readBytes(std::uint64_t offset, void* destination, std::uint64_t count) {
  return offset <= length_ && count <= length_ - offset &&
         memory_->read(offset, destination, count);
}

void CommandBuffer::commit() {
  if (error_) return;
  submission_ = backend_->submit(device_, std::move(encoded_));
  encoded_.clear();
  if (!submission_) error_ = "the device took no work";
}

void CommandBuffer::encode(const Matrix& left, const Matrix& right, const Matrix& result,
                           MatrixProduct product) {
  for (const Matrix* matrix : {&left, &right, &result})
    if (!matrix->buffer->belongsTo(backend_.get(), device_))
      error_ = "a matrix of the product lives on another device";
  if (!error_) encoded_.push_back(std::move(product));
}

void CommandBuffer::waitUntilCompleted() {
  if (submission_ && !error_) error_ = submission_->wait();
}

bool CommandBuffer::waitUntilCompleted(double seconds) {
  if (!submission_ || error_) return true;
  if (!submission_->waitFor(seconds)) return false;
  error_ = submission_->wait();
  return true;
}

void CommandBuffer::stop() {
  if (submission_) submission_->stop();
}

void MatrixMultiplication::encodeToCommandBuffer(CommandBuffer& commandBuffer, const Matrix& left,
                                                 const Matrix& right, const Matrix& result) {
  commandBuffer.encode(left, right, result,
                       {left.buffer->memory(), right.buffer->memory(), result.buffer->memory(),
                        rows_, columns_, interior_, left.descriptor->rowBytes,
                        right.descriptor->rowBytes, result.descriptor->rowBytes});
}

std::shared_ptr<CommandBuffer> CommandQueue::commandBuffer() {
  return std::make_shared<CommandBuffer>(backend_, device_);
}

std::optional<DeviceTemperature> Device::temperature() const {
  return backend_->temperature(facts_.index);
}

std::shared_ptr<CommandQueue> Device::newCommandQueue() {
  return std::make_shared<CommandQueue>(backend_, facts_.index);
}

std::shared_ptr<Buffer> Device::newBufferWithBytes(const void* bytes, std::uint64_t length,
                                                   std::uint64_t) {
  return bytes ? newBuffer(length, bytes) : nullptr;
}

std::shared_ptr<Buffer> Device::newBufferWithLength(std::uint64_t length, std::uint64_t) {
  return newBuffer(length, nullptr);
}

std::shared_ptr<Buffer> Device::newBuffer(std::uint64_t length, const void* contents) {
  if (length == 0) return nullptr;
  auto memory = backend_->allocate(facts_.index, length, contents);
  return memory ? std::make_shared<Buffer>(std::move(memory), length, backend_.get(), facts_.index)
                : nullptr;
}

std::shared_ptr<MatrixMultiplication> Device::newMatrixMultiplication(
    std::uint64_t resultRows, std::uint64_t resultColumns, std::uint64_t interiorColumns) {
  backend_->prepareProducts(facts_.index);
  return std::make_shared<MatrixMultiplication>(resultRows, resultColumns, interiorColumns);
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
  std::vector<std::shared_ptr<Device>> devices;
  if (auto platform = installedGPUPlatform())
    for (auto& facts : platform->devices())
      devices.push_back(std::make_shared<Device>(platform, std::move(facts)));
  return devices;
}

std::shared_ptr<Device> MTLCreateSystemDefaultDevice() {
  auto platform = installedGPUPlatform();
  auto facts = platform ? platform->defaultDevice() : std::nullopt;
  return facts ? std::make_shared<Device>(platform, std::move(*facts)) : nullptr;
}

std::shared_ptr<const MatrixDescriptor> matrixDescriptorWithRows(std::uint64_t rows,
                                                                 std::uint64_t columns,
                                                                 std::uint64_t rowBytes,
                                                                 std::uint32_t dataType) {
  return std::make_shared<const MatrixDescriptor>(
      MatrixDescriptor{rows, columns, rowBytes, dataType});
}

std::shared_ptr<Matrix> initMatrixWithBuffer(std::shared_ptr<Buffer> buffer,
                                             std::shared_ptr<const MatrixDescriptor> descriptor) {
  if (!buffer || !descriptor) return nullptr;
  return std::make_shared<Matrix>(Matrix{std::move(buffer), std::move(descriptor)});
}

}  // namespace ventra::gpu::platform
