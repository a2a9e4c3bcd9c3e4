#include "gpu/platform/vulkan/vulkan_product.h"

#include <array>
#include <chrono>
#include <cstddef>

namespace ventra::gpu::vulkan {
namespace pf = platform;
namespace {

const std::uint32_t kMatmulSpirv[] = {
#include "matmul.spv.inc"
};

struct PushConstants {
  std::uint32_t rows, columns, interior;
  std::uint32_t leftStride, rightStride, resultStride;
  std::uint32_t leftOffset, rightOffset, resultOffset;
  std::uint32_t accumulate;
};

vk::raii::DescriptorSetLayout makeSetLayout(Device& device) {
  std::array<vk::DescriptorSetLayoutBinding, 3> bindings;
  for (std::uint32_t i = 0; i < bindings.size(); ++i)
    bindings[i] = {i, vk::DescriptorType::eStorageBuffer, 1, vk::ShaderStageFlagBits::eCompute};
  return {device.logical(), {{}, bindings}};
}

// Each submission of the plan (a block of rows, or a piece of its interior) is recorded when it is
// due and submitted when the one before it has finished: the device always has one to run, a
// stop takes effect after it, and a product of thousands of pieces costs nothing to commit. One
// command buffer, one fence and one set of descriptors serve every submission in turn.
class VkSubmission final : public pf::Submission {
 public:
  VkSubmission(std::shared_ptr<Device> device, std::shared_ptr<const MatmulKernel> kernel,
               BufferOf bufferOf, std::vector<pf::MatrixProduct> products,
               std::vector<ProductPlan> plans, bool reported);
  ~VkSubmission() override {
    stop();
    waitFor(kForever);
  }
  void fail(std::string why) {
    if (!error_) error_ = std::move(why);
  }
  void start() { submitNext(); }
  std::optional<std::string> wait() override {
    waitFor(kForever);
    return error_;
  }
  bool waitFor(double seconds) override;
  void stop() override { stopped_ = true; }

 private:
  static constexpr double kForever = 1e9;  // seconds: longer than any wait means "no limit"

  // The next submission of the plans, in order; nothing when none is left.
  std::optional<std::pair<std::size_t, std::size_t>> nextPiece();
  void record(const pf::MatrixProduct& product, const SubmissionPlan& piece);
  void recordDispatch(const pf::MatrixProduct& product, const Dispatch& dispatch,
                      const vk::raii::DescriptorSet& set);
  void submitNext();
  // Waits for the submission in flight until `deadline`; false when the time ran out first.
  bool awaitInFlight(std::chrono::steady_clock::time_point deadline, bool forever);

  std::shared_ptr<Device> device_;
  std::shared_ptr<const MatmulKernel> kernel_;
  BufferOf bufferOf_;
  std::vector<pf::MatrixProduct> products_;  // their buffers in use until the last is done
  std::vector<ProductPlan> plans_;
  std::size_t product_ = 0, piece_ = 0;  // the next submission
  bool reported_;                        // the options' onSubmission is told of each submission
  vk::raii::CommandPool pool_;
  vk::raii::CommandBuffer commands_{nullptr};
  vk::raii::Fence fence_{nullptr};
  vk::raii::DescriptorPool descriptors_{nullptr};
  std::vector<vk::raii::DescriptorSet> sets_;  // as many as the largest submission dispatches
  std::optional<linux_gpu::RowBlock> inFlight_;
  bool stopped_ = false;
  std::optional<std::string> error_;
};

std::size_t mostDispatches(const std::vector<ProductPlan>& plans) {
  std::size_t most = 1;
  for (const auto& plan : plans)
    for (const auto& piece : plan.submissions) most = std::max(most, piece.dispatches.size());
  return most;
}

VkSubmission::VkSubmission(std::shared_ptr<Device> device,
                           std::shared_ptr<const MatmulKernel> kernel, BufferOf bufferOf,
                           std::vector<pf::MatrixProduct> products, std::vector<ProductPlan> plans,
                           bool reported)
    : device_(std::move(device)),
      kernel_(std::move(kernel)),
      bufferOf_(std::move(bufferOf)),
      products_(std::move(products)),
      plans_(std::move(plans)),
      reported_(reported),
      pool_(device_->logical(),
            {vk::CommandPoolCreateFlagBits::eResetCommandBuffer, device_->queueFamily()}) {
  commands_ = std::move(vk::raii::CommandBuffers(device_->logical(),
                                                 {*pool_, vk::CommandBufferLevel::ePrimary, 1})[0]);
  fence_ = vk::raii::Fence(device_->logical(), vk::FenceCreateInfo());
  const auto sets = static_cast<std::uint32_t>(mostDispatches(plans_));
  vk::DescriptorPoolSize size(vk::DescriptorType::eStorageBuffer, 3 * sets);
  descriptors_ = vk::raii::DescriptorPool(
      device_->logical(), {vk::DescriptorPoolCreateFlagBits::eFreeDescriptorSet, sets, size});
  std::vector<vk::DescriptorSetLayout> layouts(sets, *kernel_->setLayout());
  sets_ = vk::raii::DescriptorSets(device_->logical(), {*descriptors_, layouts});
}

std::optional<std::pair<std::size_t, std::size_t>> VkSubmission::nextPiece() {
  while (product_ < plans_.size()) {
    const ProductPlan& plan = plans_[product_];
    if (plan.error) {
      fail(*plan.error);
      return std::nullopt;
    }
    if (piece_ < plan.submissions.size()) return std::pair(product_, piece_++);
    ++product_;
    piece_ = 0;
  }
  return std::nullopt;
}

void VkSubmission::recordDispatch(const pf::MatrixProduct& p, const Dispatch& d,
                                  const vk::raii::DescriptorSet& set) {
  const std::array<vk::DescriptorBufferInfo, 3> infos{
      vk::DescriptorBufferInfo{*bufferOf_(p.left).get(), d.left.offset, d.left.range},
      vk::DescriptorBufferInfo{*bufferOf_(p.right).get(), d.right.offset, d.right.range},
      vk::DescriptorBufferInfo{*bufferOf_(p.result).get(), d.result.offset, d.result.range}};
  std::array<vk::WriteDescriptorSet, 3> writes;
  for (std::uint32_t i = 0; i < writes.size(); ++i)
    writes[i] = {*set, i, 0, 1, vk::DescriptorType::eStorageBuffer, nullptr, &infos[i]};
  device_->logical().updateDescriptorSets(writes, {});
  // Every earlier write, in this submission or an earlier one, lands before this dispatch.
  vk::MemoryBarrier written(vk::AccessFlagBits::eShaderWrite | vk::AccessFlagBits::eTransferWrite,
                            vk::AccessFlagBits::eShaderRead | vk::AccessFlagBits::eShaderWrite);
  commands_.pipelineBarrier(
      vk::PipelineStageFlagBits::eComputeShader | vk::PipelineStageFlagBits::eTransfer,
      vk::PipelineStageFlagBits::eComputeShader, {}, written, {}, {});
  commands_.bindPipeline(vk::PipelineBindPoint::eCompute, *kernel_->pipeline());
  commands_.bindDescriptorSets(vk::PipelineBindPoint::eCompute, *kernel_->layout(), 0, *set, {});
  const PushConstants shape{d.rows,
                            d.columns,
                            d.interior,
                            static_cast<std::uint32_t>(p.leftRowBytes / 4),
                            static_cast<std::uint32_t>(p.rightRowBytes / 4),
                            static_cast<std::uint32_t>(p.resultRowBytes / 4),
                            d.left.firstElement,
                            d.right.firstElement,
                            d.result.firstElement,
                            d.accumulate ? 1u : 0u};
  commands_.pushConstants<PushConstants>(*kernel_->layout(), vk::ShaderStageFlagBits::eCompute, 0,
                                         shape);
  const auto& tile = kernel_->tile();
  commands_.dispatch((d.columns + tile.columns() - 1) / tile.columns(),
                     (d.rows + tile.rows() - 1) / tile.rows(), 1);
}

// The command buffer and the descriptors are free again: the submission before has finished.
void VkSubmission::record(const pf::MatrixProduct& product, const SubmissionPlan& piece) {
  commands_.reset();
  commands_.begin({vk::CommandBufferUsageFlagBits::eOneTimeSubmit});
  for (std::size_t i = 0; i < piece.dispatches.size(); ++i)
    recordDispatch(product, piece.dispatches[i], sets_[i]);
  commands_.end();
}

void VkSubmission::submitNext() {
  if (error_ || stopped_) return;
  const auto next = nextPiece();
  if (!next) return;
  const SubmissionPlan& piece = plans_[next->first].submissions[next->second];
  try {
    record(products_[next->first], piece);
    device_->logical().resetFences(*fence_);
    device_->submit(commands_, fence_);
  } catch (const std::exception& error) {
    fail(std::string("the Vulkan device refused the work: ") + error.what());
    return stop();
  }
  if (reported_ && device_->options().onSubmission) device_->options().onSubmission(piece.rows);
  inFlight_ = piece.rows;
}

bool VkSubmission::awaitInFlight(std::chrono::steady_clock::time_point deadline, bool forever) {
  using namespace std::chrono;
  const auto left = duration_cast<nanoseconds>(deadline - steady_clock::now()).count();
  const std::uint64_t timeout =
      forever ? UINT64_MAX : static_cast<std::uint64_t>(std::max<std::int64_t>(left, 0));
  vk::Result result = vk::Result::eErrorDeviceLost;
  try {
    result = device_->logical().waitForFences(*fence_, VK_TRUE, timeout);
  } catch (const std::exception&) {
  }
  if (result == vk::Result::eTimeout) return false;
  if (result != vk::Result::eSuccess) {
    fail("the device did not finish the products");
    stop();
  }
  inFlight_.reset();
  return true;
}

bool VkSubmission::waitFor(double seconds) {
  const bool forever = seconds >= kForever;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(forever ? 0.0 : std::max(seconds, 0.0)));
  while (inFlight_) {
    if (!awaitInFlight(deadline, forever)) return false;
    submitNext();
  }
  return true;
}

}  // namespace

constexpr vk::PushConstantRange kShapeRange(vk::ShaderStageFlagBits::eCompute, 0,
                                            sizeof(PushConstants));

MatmulKernel::MatmulKernel(Device& device)
    : setLayout_(makeSetLayout(device)),
      layout_(device.logical(), {{}, *setLayout_, kShapeRange}),
      tile_(device.tile().tile) {
  try {
    build(device);
  } catch (const vk::SystemError& error) {
    if (device.tile().source != tile::TileSource::tuned) throw;
    device.forgetUnbuildableTile(error.what());
    tile_ = device.tile().tile;
    build(device);
  }
}

// The tile's six numbers are the shader's specialization constants 0 to 5, in their order.
void MatmulKernel::build(Device& device) {
  using tile::KernelTile;
  vk::raii::ShaderModule shader(device.logical(), {{}, sizeof kMatmulSpirv, kMatmulSpirv});
  constexpr auto kNumber = sizeof(std::uint32_t);
  const std::array<vk::SpecializationMapEntry, 6> entries{
      vk::SpecializationMapEntry{0, offsetof(KernelTile, tx), kNumber},
      vk::SpecializationMapEntry{1, offsetof(KernelTile, ty), kNumber},
      vk::SpecializationMapEntry{2, offsetof(KernelTile, tm), kNumber},
      vk::SpecializationMapEntry{3, offsetof(KernelTile, tn), kNumber},
      vk::SpecializationMapEntry{4, offsetof(KernelTile, step), kNumber},
      vk::SpecializationMapEntry{5, offsetof(KernelTile, staged), kNumber}};
  vk::SpecializationInfo specialization(entries,
                                        vk::ArrayProxyNoTemporaries<const KernelTile>(tile_));
  vk::ComputePipelineCreateInfo info(
      {}, {{}, vk::ShaderStageFlagBits::eCompute, *shader, "main", &specialization}, *layout_);
  pipeline_ = vk::raii::Pipeline(device.logical(), nullptr, info);
}

std::shared_ptr<pf::Submission> submitProducts(std::shared_ptr<Device> device,
                                               std::shared_ptr<const MatmulKernel> kernel,
                                               std::vector<pf::MatrixProduct> products,
                                               const BufferOf& bufferOf, bool reported) {
  std::vector<ProductPlan> plans;
  for (const auto& product : products)
    plans.push_back(planProduct(product, device->limits(),
                                device->options().maxFlopsPerSubmissionOn(device->isCpu()),
                                kernel->tile().rows()));
  auto submission = std::make_shared<VkSubmission>(std::move(device), std::move(kernel), bufferOf,
                                                   std::move(products), std::move(plans), reported);
  submission->start();
  return submission;
}

}  // namespace ventra::gpu::vulkan
