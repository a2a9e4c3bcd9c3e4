#include "gpu/platform/opencl/opencl_gpu.h"

#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>
#include <CL/cl_ext.h>
#include <clblast.h>

#include <mutex>
#include <string>
#include <vector>

#include "gpu/platform/opencl/device_name.h"

namespace ventra::gpu::opencl {
namespace pf = platform;
namespace {

std::string infoText(cl_device_id device, cl_device_info what) {
  std::size_t size = 0;
  if (clGetDeviceInfo(device, what, 0, nullptr, &size) != CL_SUCCESS || size == 0) return {};
  std::string text(size, '\0');
  if (clGetDeviceInfo(device, what, size, text.data(), nullptr) != CL_SUCCESS) return {};
  text.resize(text.find('\0') == std::string::npos ? size : text.find('\0'));
  return text;
}

template <typename T>
T infoValue(cl_device_id device, cl_device_info what) {
  T value{};
  clGetDeviceInfo(device, what, sizeof value, &value, nullptr);
  return value;
}

// One device with its context, shared by everything made on it.
struct DeviceHandle {
  cl_device_id id = nullptr;
  cl_context context = nullptr;
  std::string name;
  std::uint64_t globalMemory = 0;
  std::uint64_t maxAllocation = 0;

  ~DeviceHandle() {
    if (context) clReleaseContext(context);
  }
};

class ClBuffer : public pf::Buffer {
 public:
  ClBuffer(std::shared_ptr<DeviceHandle> device, cl_mem memory, std::uint64_t length)
      : device_(std::move(device)), memory_(memory), length_(length) {}
  ~ClBuffer() override {
    if (readQueue_) clReleaseCommandQueue(readQueue_);
    clReleaseMemObject(memory_);
  }
  std::uint64_t length() const override { return length_; }
  bool readBytes(std::uint64_t offset, void* destination, std::uint64_t count) override {
    if (offset + count > length_ || !readQueue()) return false;
    return clEnqueueReadBuffer(readQueue_, memory_, CL_TRUE, offset, count, destination, 0, nullptr,
                               nullptr) == CL_SUCCESS;
  }
  cl_mem memory() const { return memory_; }

 private:
  // Made on the first read-back, which only diagnostics do.
  bool readQueue() {
    cl_int error = CL_SUCCESS;
    if (!readQueue_) readQueue_ = clCreateCommandQueue(device_->context, device_->id, 0, &error);
    return error == CL_SUCCESS && readQueue_;
  }

  std::shared_ptr<DeviceHandle> device_;
  cl_mem memory_;
  std::uint64_t length_;
  cl_command_queue readQueue_ = nullptr;
};

struct Product {
  std::shared_ptr<pf::Buffer> left, right, result;
  std::uint64_t rows, columns, interior, leftStride, rightStride, resultStride;
};

class ClCommandBuffer : public pf::CommandBuffer {
 public:
  ClCommandBuffer(std::shared_ptr<DeviceHandle> device, cl_command_queue queue)
      : device_(std::move(device)), queue_(queue) {
    clRetainCommandQueue(queue_);
  }
  ~ClCommandBuffer() override {
    clFinish(queue_);  // scratch buffers must outlive the work that uses them
    for (cl_mem scratch : scratch_) clReleaseMemObject(scratch);
    clReleaseCommandQueue(queue_);
  }
  void add(Product product) { products_.push_back(std::move(product)); }
  void commit() override {
    for (const auto& product : products_)
      if (!error_) enqueue(product);
  }
  void waitUntilCompleted() override {
    cl_int status = clFinish(queue_);
    if (status != CL_SUCCESS && !error_) error_ = "clFinish failed with " + std::to_string(status);
  }
  std::optional<std::string> error() const override { return error_; }

 private:
  void enqueue(const Product& p);

  std::shared_ptr<DeviceHandle> device_;
  cl_command_queue queue_;
  std::vector<Product> products_;
  std::vector<cl_mem> scratch_;
  std::optional<std::string> error_;
};

// Row-major C = A × B is the column-major product C' = B' × A' of the same buffers. Column-major
// operands keep the library's scratch at one matrix (1 GiB at n = 16384); row-major would need
// two in one allocation. The scratch is ours, so its size is checked against the device.
void ClCommandBuffer::enqueue(const Product& p) {
  using clblast::Layout, clblast::Transpose;
  const auto m = static_cast<std::size_t>(p.columns), n = static_cast<std::size_t>(p.rows),
             k = static_cast<std::size_t>(p.interior);
  std::size_t scratchBytes = 0;
  auto status = clblast::GemmTempBufferSize<float>(
      Layout::kColMajor, Transpose::kNo, Transpose::kNo, m, n, k, 0, p.rightStride, 0, p.leftStride,
      0, p.resultStride, &queue_, scratchBytes);
  if (status != clblast::StatusCode::kSuccess)
    return void(error_ = "CLBlast could not size its scratch (status " +
                         std::to_string(int(status)) + ")");
  cl_mem scratch = nullptr;
  if (scratchBytes > 0) {
    if (scratchBytes > device_->maxAllocation)
      return void(error_ = "CLBlast needs " + std::to_string(scratchBytes) +
                           " scratch bytes, more than one allocation on this device");
    cl_int error = CL_SUCCESS;
    scratch = clCreateBuffer(device_->context, CL_MEM_READ_WRITE, scratchBytes, nullptr, &error);
    if (error != CL_SUCCESS) return void(error_ = "no memory for CLBlast's scratch");
    scratch_.push_back(scratch);
  }
  auto memory = [](const std::shared_ptr<pf::Buffer>& b) {
    return static_cast<ClBuffer&>(*b).memory();
  };
  status =
      clblast::Gemm<float>(Layout::kColMajor, Transpose::kNo, Transpose::kNo, m, n, k, 1.0f,
                           memory(p.right), 0, p.rightStride, memory(p.left), 0, p.leftStride, 0.0f,
                           memory(p.result), 0, p.resultStride, &queue_, nullptr, scratch);
  if (status != clblast::StatusCode::kSuccess)
    error_ = "CLBlast Gemm failed (status " + std::to_string(int(status)) + ")";
}

class ClQueue : public pf::CommandQueue {
 public:
  ClQueue(std::shared_ptr<DeviceHandle> device, cl_command_queue queue)
      : device_(std::move(device)), queue_(queue) {}
  ~ClQueue() override { clReleaseCommandQueue(queue_); }
  std::shared_ptr<pf::CommandBuffer> commandBuffer() override {
    return std::make_shared<ClCommandBuffer>(device_, queue_);
  }

 private:
  std::shared_ptr<DeviceHandle> device_;
  cl_command_queue queue_;
};

class ClMatrixMultiplication : public pf::MatrixMultiplication {
 public:
  ClMatrixMultiplication(std::uint64_t rows, std::uint64_t columns, std::uint64_t interior)
      : rows_(rows), columns_(columns), interior_(interior) {}
  void encodeToCommandBuffer(pf::CommandBuffer& commandBuffer, const pf::Matrix& left,
                             const pf::Matrix& right, const pf::Matrix& result) override {
    auto stride = [](const pf::Matrix& m) { return m.descriptor->rowBytes / 4; };
    static_cast<ClCommandBuffer&>(commandBuffer)
        .add({left.buffer, right.buffer, result.buffer, rows_, columns_, interior_, stride(left),
              stride(right), stride(result)});
  }

 private:
  std::uint64_t rows_, columns_, interior_;
};

class ClDevice : public pf::Device {
 public:
  explicit ClDevice(std::shared_ptr<DeviceHandle> handle) : handle_(std::move(handle)) {}
  std::string name() const override { return handle_->name; }
  std::uint64_t recommendedMaxWorkingSetSize() const override { return handle_->globalMemory; }
  std::shared_ptr<pf::CommandQueue> newCommandQueue() override {
    cl_int error = CL_SUCCESS;
    cl_command_queue queue = clCreateCommandQueue(handle_->context, handle_->id, 0, &error);
    if (error != CL_SUCCESS) return nullptr;
    return std::make_shared<ClQueue>(handle_, queue);
  }
  std::shared_ptr<pf::Buffer> newBufferWithBytes(const void* bytes, std::uint64_t length,
                                                 std::uint64_t) override {
    return makeBuffer(CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, const_cast<void*>(bytes), length);
  }
  std::shared_ptr<pf::Buffer> newBufferWithLength(std::uint64_t length, std::uint64_t) override {
    return makeBuffer(CL_MEM_READ_WRITE, nullptr, length);
  }
  std::shared_ptr<pf::MatrixMultiplication> newMatrixMultiplication(
      std::uint64_t rows, std::uint64_t columns, std::uint64_t interior) override {
    return std::make_shared<ClMatrixMultiplication>(rows, columns, interior);
  }

 private:
  std::shared_ptr<pf::Buffer> makeBuffer(cl_mem_flags flags, void* host, std::uint64_t length) {
    if (length == 0 || length > handle_->maxAllocation) return nullptr;
    cl_int error = CL_SUCCESS;
    cl_mem memory = clCreateBuffer(handle_->context, flags, length, host, &error);
    if (error != CL_SUCCESS) return nullptr;
    return std::make_shared<ClBuffer>(handle_, memory, length);
  }

  std::shared_ptr<DeviceHandle> handle_;
};

std::shared_ptr<DeviceHandle> openDevice(cl_device_id id) {
  cl_int error = CL_SUCCESS;
  cl_context context = clCreateContext(nullptr, 1, &id, nullptr, nullptr, &error);
  if (error != CL_SUCCESS) return nullptr;
  auto handle = std::make_shared<DeviceHandle>();
  handle->id = id;
  handle->context = context;
  handle->name = originalDeviceName(
      {infoText(id, CL_DEVICE_VENDOR), infoValue<cl_uint>(id, CL_DEVICE_VENDOR_ID),
       infoText(id, CL_DEVICE_NAME), infoText(id, CL_DEVICE_BOARD_NAME_AMD)});
  handle->globalMemory = infoValue<cl_ulong>(id, CL_DEVICE_GLOBAL_MEM_SIZE);
  handle->maxAllocation = infoValue<cl_ulong>(id, CL_DEVICE_MAX_MEM_ALLOC_SIZE);
  return handle;
}

std::vector<cl_device_id> devicesOfType(cl_device_type type) {
  cl_uint platformCount = 0;
  if (clGetPlatformIDs(0, nullptr, &platformCount) != CL_SUCCESS || platformCount == 0) return {};
  std::vector<cl_platform_id> platforms(platformCount);
  clGetPlatformIDs(platformCount, platforms.data(), nullptr);
  std::vector<cl_device_id> found;
  for (cl_platform_id platform : platforms) {
    cl_uint count = 0;
    if (clGetDeviceIDs(platform, type, 0, nullptr, &count) != CL_SUCCESS || count == 0) continue;
    std::vector<cl_device_id> ids(count);
    clGetDeviceIDs(platform, type, count, ids.data(), nullptr);
    found.insert(found.end(), ids.begin(), ids.end());
  }
  return found;
}

class OpenCLPlatform : public pf::GPUPlatform {
 public:
  explicit OpenCLPlatform(OpenCLOptions options) {
    auto ids = devicesOfType(CL_DEVICE_TYPE_GPU);
    if (options.includeCpuDevices) {
      auto cpus = devicesOfType(CL_DEVICE_TYPE_CPU);
      ids.insert(ids.end(), cpus.begin(), cpus.end());
    }
    for (cl_device_id id : ids)
      if (auto handle = openDevice(id)) devices_.push_back(std::make_shared<ClDevice>(handle));
  }
  std::vector<std::shared_ptr<pf::Device>> copyAllDevices() override { return devices_; }
  std::shared_ptr<pf::Device> createSystemDefaultDevice() override {
    return devices_.empty() ? nullptr : devices_.front();
  }

 private:
  std::vector<std::shared_ptr<pf::Device>> devices_;
};

}  // namespace

std::shared_ptr<pf::GPUPlatform> openclPlatform(OpenCLOptions options) {
  static std::mutex mutex;
  static std::shared_ptr<pf::GPUPlatform> withCpus, gpusOnly;
  std::lock_guard lock(mutex);
  auto& cached = options.includeCpuDevices ? withCpus : gpusOnly;
  if (!cached) cached = std::make_shared<OpenCLPlatform>(options);
  return cached;
}

}  // namespace ventra::gpu::opencl
