// The OpenCL backend proper: buffers, products through CLBlast, devices. Built as a module that
// the process loads when it first asks for devices (loader.cpp), so that neither CLBlast nor an
// OpenCL driver costs anything to a launch that never gets that far.

#include <clblast.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/platform/opencl/cl_handles.h"
#include "gpu/platform/opencl/module.h"
#include "gpu/platform/opencl/opencl_device.h"
#include "gpu/platform/opencl/row_blocks.h"

namespace ventra::gpu::opencl {
namespace pf = platform;
namespace {

// CLBlast's own database entry for Ellesmere ("AMD Radeon RX 480"), single-precision Xgemm.
const std::unordered_map<std::string, std::size_t> kEllesmereXgemm = {
    {"GEMMK", 0}, {"KREG", 1},   {"KWG", 32},   {"KWI", 2},  {"MDIMA", 8}, {"MDIMC", 8},
    {"MWG", 16},  {"NDIMB", 16}, {"NDIMC", 16}, {"NWG", 64}, {"SA", 1},    {"SB", 1},
    {"STRM", 0},  {"STRN", 0},   {"VWM", 1},    {"VWN", 2}};

QueueHandle makeQueue(const DeviceHandle& device) {
  cl_int error = CL_SUCCESS;
  QueueHandle queue(clCreateCommandQueue(device.context.get(), device.id, 0, &error));
  return error == CL_SUCCESS ? std::move(queue) : QueueHandle();
}

class ClBuffer final : public pf::Buffer {
 public:
  ClBuffer(std::shared_ptr<DeviceHandle> device, MemoryHandle memory, std::uint64_t length)
      : device_(std::move(device)), memory_(std::move(memory)), length_(length) {}
  std::uint64_t length() const override { return length_; }
  bool readBytes(std::uint64_t offset, void* destination, std::uint64_t count) override {
    if (offset + count > length_) return false;
    if (!readQueue_) readQueue_ = makeQueue(*device_);  // only diagnostics read back
    return readQueue_ && clEnqueueReadBuffer(readQueue_.get(), memory_.get(), CL_TRUE, offset,
                                             count, destination, 0, nullptr, nullptr) == CL_SUCCESS;
  }
  cl_mem memory() const { return memory_.get(); }

 private:
  std::shared_ptr<DeviceHandle> device_;
  MemoryHandle memory_;
  std::uint64_t length_;
  QueueHandle readQueue_;
};

struct Product {
  std::shared_ptr<ClBuffer> left, right, result;
  std::uint64_t rows, columns, interior, leftStride, rightStride, resultStride;
};

class ClCommandBuffer final : public pf::CommandBuffer {
 public:
  ClCommandBuffer(std::shared_ptr<DeviceHandle> device, cl_command_queue queue,
                  std::shared_ptr<const OpenCLOptions> options)
      : device_(std::move(device)), queue_(queue), options_(options) {
    clRetainCommandQueue(queue_.get());
  }
  ~ClCommandBuffer() override { clFinish(queue_.get()); }  // scratch outlives the work on it
  void add(Product product) { products_.push_back(std::move(product)); }
  void commit() override {
    for (const auto& product : products_)
      if (!error_) enqueue(product);
  }
  void waitUntilCompleted() override {
    cl_int status = clFinish(queue_.get());
    if (status != CL_SUCCESS && !error_) error_ = "clFinish failed: " + clStatusText(status);
  }
  std::optional<std::string> error() const override { return error_; }

 private:
  void enqueue(const Product& p);
  cl_mem scratchFor(std::size_t m, std::size_t n, std::size_t k, const Product& p);

  std::shared_ptr<DeviceHandle> device_;
  QueueHandle queue_;
  std::shared_ptr<const OpenCLOptions> options_;
  std::vector<Product> products_;
  std::vector<MemoryHandle> scratch_;
  std::optional<std::string> error_;
};

// The library's scratch is ours, so its size is checked against one allocation on the device.
cl_mem ClCommandBuffer::scratchFor(std::size_t m, std::size_t n, std::size_t k, const Product& p) {
  using clblast::Layout, clblast::Transpose;
  std::size_t bytes = 0;
  cl_command_queue queue = queue_.get();
  auto status = clblast::GemmTempBufferSize<float>(Layout::kColMajor, Transpose::kNo,
                                                   Transpose::kNo, m, n, k, 0, p.rightStride, 0,
                                                   p.leftStride, 0, p.resultStride, &queue, bytes);
  if (status != clblast::StatusCode::kSuccess)
    return error_ =
               "CLBlast could not size its scratch (status " + std::to_string(int(status)) + ")",
           nullptr;
  if (bytes == 0) return nullptr;
  if (bytes > device_->maxAllocation)
    return error_ = "CLBlast needs " + std::to_string(bytes) +
                    " scratch bytes, more than one allocation on this device",
           nullptr;
  cl_int error = CL_SUCCESS;
  MemoryHandle memory(
      clCreateBuffer(device_->context.get(), CL_MEM_READ_WRITE, bytes, nullptr, &error));
  if (error != CL_SUCCESS)
    return error_ = "no memory for CLBlast's scratch: " + clStatusText(error), nullptr;
  scratch_.push_back(std::move(memory));
  return scratch_.back().get();
}

// Row-major C = A × B is the column-major C' = B' × A' of the same buffers; column-major
// operands keep the library's scratch at one matrix. A block of C's rows is a block of C''s
// columns, so each block is the same call on offset buffers, flushed as its own submission.
void ClCommandBuffer::enqueue(const Product& p) {
  using clblast::Layout, clblast::Transpose;
  const auto m = static_cast<std::size_t>(p.columns), k = static_cast<std::size_t>(p.interior);
  for (const RowBlock& block :
       rowBlocks(p.rows, p.columns, p.interior, options_->maxFlopsPerSubmission)) {
    const auto n = static_cast<std::size_t>(block.count);
    cl_mem scratch = scratchFor(m, n, k, p);
    if (error_) return;
    cl_command_queue queue = queue_.get();
    auto status = clblast::Gemm<float>(
        Layout::kColMajor, Transpose::kNo, Transpose::kNo, m, n, k, 1.0f, p.right->memory(), 0,
        p.rightStride, p.left->memory(), block.first * p.leftStride, p.leftStride, 0.0f,
        p.result->memory(), block.first * p.resultStride, p.resultStride, &queue, nullptr, scratch);
    if (status != clblast::StatusCode::kSuccess)
      return void(error_ = "CLBlast Gemm failed (status " + std::to_string(int(status)) + ")");
    clFlush(queue);
    if (options_->onSubmission) options_->onSubmission(block);
  }
}

class ClQueue final : public pf::CommandQueue {
 public:
  ClQueue(std::shared_ptr<DeviceHandle> device, QueueHandle queue,
          std::shared_ptr<const OpenCLOptions> options)
      : device_(std::move(device)), queue_(std::move(queue)), options_(options) {}
  std::shared_ptr<pf::CommandBuffer> commandBuffer() override {
    return std::make_shared<ClCommandBuffer>(device_, queue_.get(), options_);
  }

 private:
  std::shared_ptr<DeviceHandle> device_;
  QueueHandle queue_;
  std::shared_ptr<const OpenCLOptions> options_;
};

class ClMatrixMultiplication final : public pf::MatrixMultiplication {
 public:
  ClMatrixMultiplication(std::uint64_t rows, std::uint64_t columns, std::uint64_t interior)
      : rows_(rows), columns_(columns), interior_(interior) {}
  void encodeToCommandBuffer(pf::CommandBuffer& commandBuffer, const pf::Matrix& left,
                             const pf::Matrix& right, const pf::Matrix& result) override {
    auto stride = [](const pf::Matrix& m) { return m.descriptor->rowBytes / 4; };
    auto buffer = [](const pf::Matrix& m) { return std::static_pointer_cast<ClBuffer>(m.buffer); };
    static_cast<ClCommandBuffer&>(commandBuffer)
        .add({buffer(left), buffer(right), buffer(result), rows_, columns_, interior_, stride(left),
              stride(right), stride(result)});
  }

 private:
  std::uint64_t rows_, columns_, interior_;
};

// A chunk of the pattern at a time, for drivers before OpenCL 1.2 (Clover): host memory stays
// small whatever the buffer's size.
cl_int writePattern(cl_command_queue queue, cl_mem memory, const void* pattern,
                    std::size_t patternLength, std::size_t length) {
  constexpr std::size_t kChunk = 16u << 20;
  std::vector<char> chunk(std::min(length, kChunk / patternLength * patternLength));
  for (std::size_t at = 0; at < chunk.size(); at += patternLength)
    std::copy_n(static_cast<const char*>(pattern), patternLength, chunk.data() + at);
  for (std::size_t at = 0; at < length; at += chunk.size()) {
    std::size_t count = std::min(chunk.size(), length - at);
    cl_int status =
        clEnqueueWriteBuffer(queue, memory, CL_TRUE, at, count, chunk.data(), 0, nullptr, nullptr);
    if (status != CL_SUCCESS) return status;
  }
  return CL_SUCCESS;
}

class ClDevice final : public pf::Device {
 public:
  ClDevice(std::shared_ptr<DeviceHandle> handle, std::shared_ptr<const OpenCLOptions> options)
      : handle_(std::move(handle)), options_(options) {}
  std::string name() const override { return handle_->name; }
  std::uint64_t recommendedMaxWorkingSetSize() const override { return handle_->workingSet; }
  pf::DeviceDetails details() const override { return handle_->details; }
  std::shared_ptr<pf::CommandQueue> newCommandQueue() override {
    QueueHandle queue = makeQueue(*handle_);
    if (!queue) return nullptr;
    if (handle_->ellesmere)
      clblast::OverrideParameters(handle_->id, "Xgemm", clblast::Precision::kSingle,
                                  kEllesmereXgemm);
    return std::make_shared<ClQueue>(handle_, std::move(queue), options_);
  }
  std::shared_ptr<pf::Buffer> newBufferWithBytes(const void* bytes, std::uint64_t length,
                                                 std::uint64_t) override {
    return makeBuffer(CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, const_cast<void*>(bytes), length);
  }
  std::shared_ptr<pf::Buffer> newBufferWithPattern(const void* pattern, std::uint64_t patternLength,
                                                   std::uint64_t length, std::uint64_t) override;
  std::shared_ptr<pf::Buffer> newBufferWithLength(std::uint64_t length, std::uint64_t) override {
    return makeBuffer(CL_MEM_READ_WRITE, nullptr, length);
  }
  std::shared_ptr<pf::MatrixMultiplication> newMatrixMultiplication(
      std::uint64_t rows, std::uint64_t columns, std::uint64_t interior) override {
    return std::make_shared<ClMatrixMultiplication>(rows, columns, interior);
  }

 private:
  std::shared_ptr<ClBuffer> makeBuffer(cl_mem_flags flags, void* host, std::uint64_t length) {
    if (length == 0 || length > handle_->maxAllocation) return nullptr;
    cl_int error = CL_SUCCESS;
    MemoryHandle memory(clCreateBuffer(handle_->context.get(), flags, length, host, &error));
    if (error != CL_SUCCESS) return nullptr;
    return std::make_shared<ClBuffer>(handle_, std::move(memory), length);
  }

  std::shared_ptr<DeviceHandle> handle_;
  std::shared_ptr<const OpenCLOptions> options_;
};

std::shared_ptr<pf::Buffer> ClDevice::newBufferWithPattern(const void* pattern,
                                                           std::uint64_t patternLength,
                                                           std::uint64_t length, std::uint64_t) {
  if (patternLength == 0 || patternLength > 128 || length % patternLength != 0) return nullptr;
  auto buffer = makeBuffer(CL_MEM_READ_WRITE, nullptr, length);
  QueueHandle queue = makeQueue(*handle_);
  if (!buffer || !queue) return nullptr;
  cl_int status = CL_SUCCESS;
  if (handle_->fillsBuffers)
    status = clEnqueueFillBuffer(queue.get(), buffer->memory(), pattern, patternLength, 0, length,
                                 0, nullptr, nullptr);
  else
    status = writePattern(queue.get(), buffer->memory(), pattern, patternLength, length);
  if (status == CL_SUCCESS) status = clFinish(queue.get());
  return status == CL_SUCCESS ? buffer : nullptr;
}

// Devices and their contexts are made once, when first asked for, so the library compiles its
// kernels once per process.
class OpenCLPlatform final : public pf::GPUPlatform {
 public:
  explicit OpenCLPlatform(OpenCLOptions options)
      : options_(std::make_shared<const OpenCLOptions>(std::move(options))) {}
  std::vector<std::shared_ptr<pf::Device>> copyAllDevices() override { return devices(); }
  std::shared_ptr<pf::Device> createSystemDefaultDevice() override {
    const auto& all = devices();
    return all.empty() ? nullptr : all.front();
  }

 private:
  const std::vector<std::shared_ptr<pf::Device>>& devices() {
    std::call_once(enumerated_, [this] {
      auto ids = devicesOfType(CL_DEVICE_TYPE_GPU);
      if (options_->includeCpuDevices) {
        auto cpus = devicesOfType(CL_DEVICE_TYPE_CPU);
        ids.insert(ids.end(), cpus.begin(), cpus.end());
      }
      for (cl_device_id id : ids)
        if (auto handle = openDevice(id))
          devices_.push_back(std::make_shared<ClDevice>(handle, options_));
    });
    return devices_;
  }

  std::shared_ptr<const OpenCLOptions> options_;  // shared with everything made here
  std::once_flag enumerated_;
  std::vector<std::shared_ptr<pf::Device>> devices_;
};

}  // namespace
}  // namespace ventra::gpu::opencl

extern "C" void ventra_opencl_module_platform(
    const ventra::gpu::opencl::OpenCLOptions* options,
    std::shared_ptr<ventra::gpu::platform::GPUPlatform>* platform) {
  *platform = std::make_shared<ventra::gpu::opencl::OpenCLPlatform>(*options);
}
