// The OpenCL backend proper: buffers, products through CLBlast, devices. Built as a module that
// the process loads when it first asks for devices (linux/stacks.cpp), so that neither CLBlast
// nor an OpenCL driver costs anything to a launch that never gets that far.

#include <clblast.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/platform/linux/card_identity.h"
#include "gpu/platform/linux/first_product.h"
#include "gpu/platform/linux/held_output.h"
#include "gpu/platform/linux/module.h"
#include "gpu/platform/linux/stack_platform.h"
#include "gpu/platform/opencl/cl_handles.h"
#include "gpu/platform/opencl/completion.h"
#include "gpu/platform/opencl/opencl_device.h"
#include "gpu/platform/opencl/scratch.h"

namespace ventra::gpu::opencl {
namespace pf = platform;
using linux_gpu::BackendOptions;
using linux_gpu::RowBlock;
namespace {

// CLBlast's own database entry for Ellesmere ("AMD Radeon RX 480"), single-precision Xgemm.
const std::unordered_map<std::string, std::size_t> kEllesmereXgemm = {
    {"GEMMK", 0}, {"KREG", 1},   {"KWG", 32},   {"KWI", 2},  {"MDIMA", 8}, {"MDIMC", 8},
    {"MWG", 16},  {"NDIMB", 16}, {"NDIMC", 16}, {"NWG", 64}, {"SA", 1},    {"SB", 1},
    {"STRM", 0},  {"STRN", 0},   {"VWM", 1},    {"VWN", 2}};

class ClMemory final : public pf::DeviceMemory {
 public:
  ClMemory(std::shared_ptr<DeviceHandle> device, MeteredMemory memory)
      : device_(std::move(device)), memory_(std::move(memory)) {}
  bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
    if (offset > memory_.bytes() || count > memory_.bytes() - offset) return false;
    if (!readQueue_) readQueue_ = makeQueue(*device_);  // only diagnostics read back
    return readQueue_ && clEnqueueReadBuffer(readQueue_.get(), memory_.get(), CL_TRUE, offset,
                                             count, destination, 0, nullptr, nullptr) == CL_SUCCESS;
  }
  cl_mem memory() const { return memory_.get(); }

 private:
  std::shared_ptr<DeviceHandle> device_;
  MeteredMemory memory_;
  QueueHandle readQueue_;
};

cl_mem memoryOf(const std::shared_ptr<pf::DeviceMemory>& memory) {
  // This backend's devices hold only its own memory.
  return static_cast<const ClMemory&>(*memory).memory();
}

// Each piece (a block of rows, whole or a piece of its interior) is enqueued when the one before
// it has finished, while the caller waits: the device always has one piece to run, and a stop
// takes effect after that piece. A product is planned (and its scratch sized) when its first
// piece is due, after the last one's are done.
class ClSubmission final : public pf::Submission {
 public:
  ClSubmission(std::shared_ptr<DeviceHandle> device, QueueHandle queue,
               std::shared_ptr<const BackendOptions> options,
               std::vector<pf::MatrixProduct> products, bool reported)
      : device_(std::move(device)),
        queue_(std::move(queue)),
        options_(std::move(options)),
        scratch_(device_, options_),
        products_(std::move(products)),
        reported_(reported) {}
  ~ClSubmission() override {
    stop();
    clFinish(queue_.get());  // scratch outlives the work on it
  }
  void start() { enqueueNext(); }
  std::optional<std::string> wait() override {
    waitFor(kForever);
    cl_int status = clFinish(queue_.get());
    if (status != CL_SUCCESS) fail("clFinish failed: " + clStatusText(status));
    return error_;
  }
  bool waitFor(double seconds) override;
  void stop() override { stopped_ = true; }

 private:
  static constexpr double kForever = 1e9;  // seconds: longer than any wait means "no limit"
  void fail(std::string why) {
    if (!error_) error_ = std::move(why);
    stopped_ = true;
  }
  void enqueueNext();
  bool planNextProduct();
  void enqueue(const pf::MatrixProduct& p, const Piece& piece);

  std::shared_ptr<DeviceHandle> device_;
  QueueHandle queue_;
  std::shared_ptr<const BackendOptions> options_;
  Scratch scratch_;
  std::vector<pf::MatrixProduct> products_;
  std::size_t product_ = 0;          // the product whose blocks go now
  std::optional<ScratchPlan> plan_;  // its plan, once its first block was due
  std::size_t piece_ = 0;            // its next piece
  std::unique_ptr<Completion> inFlight_;
  bool reported_;  // the options' onSubmission is told of each piece
  bool stopped_ = false;
  std::optional<std::string> error_;
};

bool ClSubmission::waitFor(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::duration<double>(std::min(seconds, kForever)));
  while (inFlight_) {
    const double left =
        std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (!inFlight_->waitFor(left)) return false;
    if (inFlight_->status() != CL_COMPLETE)
      fail("the device did not finish a block of rows: " + clStatusText(inFlight_->status()));
    inFlight_.reset();
    enqueueNext();
  }
  return true;
}

// The next product's plan, where the one before has no blocks left; false when none is left.
bool ClSubmission::planNextProduct() {
  while (!plan_ || piece_ >= plan_->pieces.size()) {
    if (plan_) ++product_;
    if (product_ >= products_.size()) return false;
    plan_ = scratch_.plan(queue_.get(), products_[product_]);
    piece_ = 0;
    if (plan_->error) {
      fail(*plan_->error);
      return false;
    }
  }
  return true;
}

void ClSubmission::enqueueNext() {
  if (stopped_ || !planNextProduct()) return;
  enqueue(products_[product_], plan_->pieces[piece_++]);
}

// Row-major C = A × B is the column-major C' = B' × A' of the same buffers; column-major
// operands keep the library's scratch small. A block of C's rows is a block of C''s columns,
// and a piece of the interior is a piece of B''s columns and of A''s rows: each piece is the
// same call on offset buffers, adding to what the block's earlier pieces wrote, flushed as its
// own submission, all of them sharing one scratch buffer (the queue runs them in order).
void ClSubmission::enqueue(const pf::MatrixProduct& p, const Piece& piece) {
  using clblast::Layout, clblast::Transpose;
  const auto m = static_cast<std::size_t>(p.columns), k = static_cast<std::size_t>(piece.inner);
  const std::size_t left = p.leftRowBytes / 4, right = p.rightRowBytes / 4,
                    result = p.resultRowBytes / 4;
  cl_command_queue queue = queue_.get();
  const RowBlock& block = piece.rows;
  const auto n = static_cast<std::size_t>(block.count);
  const float keep = piece.innerFirst == 0 ? 0.0f : 1.0f;
  cl_event done = nullptr;
  auto status = clblast::Gemm<float>(
      Layout::kColMajor, Transpose::kNo, Transpose::kNo, m, n, k, 1.0f, memoryOf(p.right),
      piece.innerFirst * right, right, memoryOf(p.left), block.first * left + piece.innerFirst,
      left, keep, memoryOf(p.result), block.first * result, result, &queue, &done, plan_->buffer);
  if (status != clblast::StatusCode::kSuccess)
    return fail("CLBlast Gemm failed (status " + std::to_string(int(status)) + ")");
  clFlush(queue);
  inFlight_ = std::make_unique<Completion>(done);
  if (reported_ && options_->onSubmission) options_->onSubmission(block);
}

std::shared_ptr<ClMemory> newMemory(const std::shared_ptr<DeviceHandle>& device,
                                    const BackendOptions& options, std::uint64_t length,
                                    const void* bytes) {
  if (length > device->maxAllocation) return nullptr;
  cl_mem_flags flags = CL_MEM_READ_WRITE | (bytes ? CL_MEM_COPY_HOST_PTR : 0);
  auto memory = MeteredMemory::create(*device, options.meter, flags, length, bytes);
  if (!memory) return nullptr;
  return std::make_shared<ClMemory>(device, std::move(*memory));
}

// Devices and their contexts are made once, when first asked for, so the library compiles its
// kernels once per process.
class OpenCLPlatform final : public linux_gpu::StackPlatform {
 public:
  using StackPlatform::StackPlatform;
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
    auto memory = newMemory(handles()[device], *options_, length, contents);
    if (!memory) failed("the OpenCL device refused " + std::to_string(length) + " bytes");
    return memory;
  }
  std::shared_ptr<pf::Submission> submit(std::size_t device,
                                         std::vector<pf::MatrixProduct> products) override {
    return start(device, std::move(products), true);
  }
  // CLBlast's GEMM program is built now, not inside the load's first product. Not the load's
  // work: the stack's watchers are not told of it.
  void prepareProducts(std::size_t device) override {
    if (device >= handles().size()) return;
    if (auto first = linux_gpu::firstProduct(*this, device))
      if (auto submission = start(device, {*first}, false)) submission->wait();
  }
  std::optional<pf::DeviceTemperature> temperature(std::size_t device) override {
    if (device >= handles().size()) return std::nullopt;
    return linux_gpu::deviceTemperature(facts(device));
  }

 private:
  // `reported`: the options' onSubmission is told of the work.
  std::shared_ptr<ClSubmission> start(std::size_t device, std::vector<pf::MatrixProduct> products,
                                      bool reported) {
    if (device >= handles().size()) return nullptr;
    const auto& handle = handles()[device];
    QueueHandle queue = makeQueue(*handle);
    if (!queue) return nullptr;
    if (handle->ellesmere)
      clblast::OverrideParameters(handle->id, "Xgemm", clblast::Precision::kSingle,
                                  kEllesmereXgemm);
    auto submission = std::make_shared<ClSubmission>(handle, std::move(queue), options_,
                                                     std::move(products), reported);
    submission->start();
    return submission;
  }
  pf::DeviceFacts facts(std::size_t index) {
    const auto& handle = *handles()[index];
    return {index, handle.name, handle.workingSet, handle.details};
  }
  const std::vector<std::shared_ptr<DeviceHandle>>& handles() {
    std::call_once(enumerated_, [this] {
      linux_gpu::HeldDriverOutput quieter("the OpenCL drivers");
      auto ids = devicesOfType(CL_DEVICE_TYPE_GPU);
      if (offersCpuDevices("PoCL")) {
        auto cpus = devicesOfType(CL_DEVICE_TYPE_CPU);
        ids.insert(ids.end(), cpus.begin(), cpus.end());
      }
      for (cl_device_id id : ids) {
        if (auto handle = openDevice(id))
          handles_.push_back(std::move(handle));
        else
          failed("an OpenCL device would not open (no context on it)");
      }
    });
    return handles_;
  }

  std::once_flag enumerated_;
  std::vector<std::shared_ptr<DeviceHandle>> handles_;
};

}  // namespace
}  // namespace ventra::gpu::opencl

extern "C" void ventra_gpu_module_platform(
    const ventra::gpu::linux_gpu::BackendOptions* options,
    std::shared_ptr<ventra::gpu::platform::GPUPlatform>* platform) {
  *platform = std::make_shared<ventra::gpu::opencl::OpenCLPlatform>(*options);
}
