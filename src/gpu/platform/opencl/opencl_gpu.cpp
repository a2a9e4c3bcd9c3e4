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

class ClMemory final : public pf::DeviceMemory {
 public:
  ClMemory(std::shared_ptr<DeviceHandle> device, MemoryHandle memory, std::uint64_t length)
      : device_(std::move(device)), memory_(std::move(memory)), length_(length) {}
  bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
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

cl_mem memoryOf(const std::shared_ptr<pf::DeviceMemory>& memory) {
  return static_cast<const ClMemory&>(*memory)
      .memory();  // this backend's devices hold only its own
}

class ClSubmission final : public pf::Submission {
 public:
  ClSubmission(std::shared_ptr<DeviceHandle> device, QueueHandle queue,
               std::shared_ptr<const OpenCLOptions> options)
      : device_(std::move(device)), queue_(std::move(queue)), options_(std::move(options)) {}
  ~ClSubmission() override { clFinish(queue_.get()); }  // scratch outlives the work on it
  void start(const std::vector<pf::MatrixProduct>& products) {
    for (const auto& product : products)
      if (!error_) enqueue(product);
  }
  std::optional<std::string> wait() override {
    cl_int status = clFinish(queue_.get());
    if (status != CL_SUCCESS && !error_) error_ = "clFinish failed: " + clStatusText(status);
    return error_;
  }

 private:
  void enqueue(const pf::MatrixProduct& p);
  cl_mem scratchFor(std::size_t m, std::size_t n, std::size_t k, const pf::MatrixProduct& p);

  std::shared_ptr<DeviceHandle> device_;
  QueueHandle queue_;
  std::shared_ptr<const OpenCLOptions> options_;
  std::vector<MemoryHandle> scratch_;
  std::optional<std::string> error_;
};

// The library's scratch is ours, so its size is checked against one allocation on the device.
cl_mem ClSubmission::scratchFor(std::size_t m, std::size_t n, std::size_t k,
                                const pf::MatrixProduct& p) {
  using clblast::Layout, clblast::Transpose;
  std::size_t bytes = 0;
  cl_command_queue queue = queue_.get();
  auto status = clblast::GemmTempBufferSize<float>(
      Layout::kColMajor, Transpose::kNo, Transpose::kNo, m, n, k, 0, p.rightRowBytes / 4, 0,
      p.leftRowBytes / 4, 0, p.resultRowBytes / 4, &queue, bytes);
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
void ClSubmission::enqueue(const pf::MatrixProduct& p) {
  using clblast::Layout, clblast::Transpose;
  const auto m = static_cast<std::size_t>(p.columns), k = static_cast<std::size_t>(p.interior);
  const std::size_t left = p.leftRowBytes / 4, right = p.rightRowBytes / 4,
                    result = p.resultRowBytes / 4;
  for (const RowBlock& block :
       rowBlocks(p.rows, p.columns, p.interior, options_->maxFlopsPerSubmission)) {
    const auto n = static_cast<std::size_t>(block.count);
    cl_mem scratch = scratchFor(m, n, k, p);
    if (error_) return;
    cl_command_queue queue = queue_.get();
    auto status = clblast::Gemm<float>(Layout::kColMajor, Transpose::kNo, Transpose::kNo, m, n, k,
                                       1.0f, memoryOf(p.right), 0, right, memoryOf(p.left),
                                       block.first * left, left, 0.0f, memoryOf(p.result),
                                       block.first * result, result, &queue, nullptr, scratch);
    if (status != clblast::StatusCode::kSuccess)
      return void(error_ = "CLBlast Gemm failed (status " + std::to_string(int(status)) + ")");
    clFlush(queue);
    if (options_->onSubmission) options_->onSubmission(block);
  }
}

std::shared_ptr<ClMemory> newMemory(const std::shared_ptr<DeviceHandle>& device,
                                    std::uint64_t length, const void* bytes) {
  if (length > device->maxAllocation) return nullptr;
  cl_mem_flags flags = CL_MEM_READ_WRITE | (bytes ? CL_MEM_COPY_HOST_PTR : 0);
  cl_int error = CL_SUCCESS;
  MemoryHandle memory(
      clCreateBuffer(device->context.get(), flags, length, const_cast<void*>(bytes), &error));
  if (error != CL_SUCCESS) return nullptr;
  return std::make_shared<ClMemory>(device, std::move(memory), length);
}

// Devices and their contexts are made once, when first asked for, so the library compiles its
// kernels once per process.
class OpenCLPlatform final : public pf::GPUPlatform {
 public:
  explicit OpenCLPlatform(OpenCLOptions options)
      : options_(std::make_shared<const OpenCLOptions>(std::move(options))) {}
  std::vector<pf::DeviceFacts> devices() override {
    std::vector<pf::DeviceFacts> all;
    for (std::size_t i = 0; i < handles().size(); ++i) all.push_back(facts(i));
    return all;
  }
  std::optional<pf::DeviceFacts> defaultDevice() override {
    if (handles().empty()) return std::nullopt;
    return facts(0);
  }
  std::shared_ptr<pf::DeviceMemory> allocate(std::size_t device, std::uint64_t length,
                                             const void* contents) override {
    if (device >= handles().size()) return nullptr;
    return newMemory(handles()[device], length, contents);
  }
  std::shared_ptr<pf::Submission> submit(std::size_t device,
                                         std::vector<pf::MatrixProduct> products) override {
    if (device >= handles().size()) return nullptr;
    const auto& handle = handles()[device];
    QueueHandle queue = makeQueue(*handle);
    if (!queue) return nullptr;
    if (handle->ellesmere)
      clblast::OverrideParameters(handle->id, "Xgemm", clblast::Precision::kSingle,
                                  kEllesmereXgemm);
    auto submission = std::make_shared<ClSubmission>(handle, std::move(queue), options_);
    submission->start(products);
    return submission;
  }

 private:
  pf::DeviceFacts facts(std::size_t index) {
    const auto& handle = *handles()[index];
    return {index, handle.name, handle.workingSet, handle.details};
  }
  const std::vector<std::shared_ptr<DeviceHandle>>& handles() {
    std::call_once(enumerated_, [this] {
      auto ids = devicesOfType(CL_DEVICE_TYPE_GPU);
      if (options_->includeCpuDevices) {
        auto cpus = devicesOfType(CL_DEVICE_TYPE_CPU);
        ids.insert(ids.end(), cpus.begin(), cpus.end());
      }
      for (cl_device_id id : ids)
        if (auto handle = openDevice(id)) handles_.push_back(std::move(handle));
    });
    return handles_;
  }

  std::shared_ptr<const OpenCLOptions> options_;  // shared with everything made here
  std::once_flag enumerated_;
  std::vector<std::shared_ptr<DeviceHandle>> handles_;
};

}  // namespace
}  // namespace ventra::gpu::opencl

extern "C" void ventra_opencl_module_platform(
    const ventra::gpu::opencl::OpenCLOptions* options,
    std::shared_ptr<ventra::gpu::platform::GPUPlatform>* platform) {
  *platform = std::make_shared<ventra::gpu::opencl::OpenCLPlatform>(*options);
}
