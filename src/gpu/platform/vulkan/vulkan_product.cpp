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

// Every block of rows is recorded up front and submitted when the one before it has finished:
// the device always has one block to run, and a stop takes effect after that block.
class VkSubmission final : public pf::Submission {
 public:
  VkSubmission(std::shared_ptr<Device> device, std::uint32_t dispatches)
      : device_(std::move(device)),
        pool_(device_->logical(), {{}, device_->queueFamily()}),
        descriptors_(makeDescriptorPool(dispatches)) {}
  ~VkSubmission() override {
    stop();
    waitFor(kForever);
  }
  void record(const MatmulKernel& kernel, const pf::MatrixProduct& product, const ProductPlan& plan,
              const BufferOf& bufferOf);
  void keep(const pf::MatrixProduct& product) {
    kept_.insert(kept_.end(), {product.left, product.right, product.result});
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
  void stop() override { next_ = commands_.size(); }

 private:
  static constexpr double kForever = 1e9;  // seconds: longer than any wait means "no limit"

  vk::raii::DescriptorPool makeDescriptorPool(std::uint32_t dispatches) {
    vk::DescriptorPoolSize size(vk::DescriptorType::eStorageBuffer, 3 * std::max(dispatches, 1u));
    return {device_->logical(),
            {vk::DescriptorPoolCreateFlagBits::eFreeDescriptorSet, std::max(dispatches, 1u), size}};
  }
  void recordDispatch(const vk::raii::CommandBuffer& commands, const MatmulKernel& kernel,
                      const pf::MatrixProduct& product, const Dispatch& dispatch,
                      const BufferOf& bufferOf);
  void submitNext();
  // Waits for the block in flight until `deadline`; false when the time ran out first.
  bool awaitInFlight(std::chrono::steady_clock::time_point deadline, bool forever);

  std::shared_ptr<Device> device_;
  vk::raii::CommandPool pool_;
  vk::raii::DescriptorPool descriptors_;
  std::vector<vk::raii::CommandBuffer> commands_;  // one a block, in order
  std::vector<linux_gpu::RowBlock> blocks_;        // the rows each one computes
  std::vector<vk::raii::DescriptorSet> sets_;
  std::vector<vk::raii::Fence> fences_;
  std::size_t next_ = 0;                                 // the first block not yet submitted
  std::optional<std::size_t> inFlight_;                  // the block the device runs now
  std::vector<std::shared_ptr<pf::DeviceMemory>> kept_;  // in use until the last block is done
  std::optional<std::string> error_;
};

void VkSubmission::recordDispatch(const vk::raii::CommandBuffer& commands,
                                  const MatmulKernel& kernel, const pf::MatrixProduct& p,
                                  const Dispatch& d, const BufferOf& bufferOf) {
  auto& set = sets_.emplace_back(std::move(
      vk::raii::DescriptorSets(device_->logical(), {*descriptors_, *kernel.setLayout()})[0]));
  const std::array<vk::DescriptorBufferInfo, 3> infos{
      vk::DescriptorBufferInfo{*bufferOf(p.left).get(), d.left.offset, d.left.range},
      vk::DescriptorBufferInfo{*bufferOf(p.right).get(), d.right.offset, d.right.range},
      vk::DescriptorBufferInfo{*bufferOf(p.result).get(), d.result.offset, d.result.range}};
  std::array<vk::WriteDescriptorSet, 3> writes;
  for (std::uint32_t i = 0; i < writes.size(); ++i)
    writes[i] = {*set, i, 0, 1, vk::DescriptorType::eStorageBuffer, nullptr, &infos[i]};
  device_->logical().updateDescriptorSets(writes, {});
  // Every earlier write, in this submission or an earlier one, lands before this dispatch.
  vk::MemoryBarrier written(vk::AccessFlagBits::eShaderWrite | vk::AccessFlagBits::eTransferWrite,
                            vk::AccessFlagBits::eShaderRead | vk::AccessFlagBits::eShaderWrite);
  commands.pipelineBarrier(
      vk::PipelineStageFlagBits::eComputeShader | vk::PipelineStageFlagBits::eTransfer,
      vk::PipelineStageFlagBits::eComputeShader, {}, written, {}, {});
  commands.bindPipeline(vk::PipelineBindPoint::eCompute, *kernel.pipeline());
  commands.bindDescriptorSets(vk::PipelineBindPoint::eCompute, *kernel.layout(), 0, *set, {});
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
  commands.pushConstants<PushConstants>(*kernel.layout(), vk::ShaderStageFlagBits::eCompute, 0,
                                        shape);
  const auto& tile = kernel.tile();
  commands.dispatch((d.columns + tile.columns() - 1) / tile.columns(),
                    (d.rows + tile.rows() - 1) / tile.rows(), 1);
}

// One command buffer, and later one queue submission, per block of rows.
void VkSubmission::record(const MatmulKernel& kernel, const pf::MatrixProduct& product,
                          const ProductPlan& plan, const BufferOf& bufferOf) {
  for (const auto& block : plan.submissions) {
    auto& commands = commands_.emplace_back(std::move(vk::raii::CommandBuffers(
        device_->logical(), {*pool_, vk::CommandBufferLevel::ePrimary, 1})[0]));
    commands.begin({vk::CommandBufferUsageFlagBits::eOneTimeSubmit});
    for (const auto& dispatch : block.dispatches)
      recordDispatch(commands, kernel, product, dispatch, bufferOf);
    commands.end();
    fences_.emplace_back(device_->logical(), vk::FenceCreateInfo());
    blocks_.push_back(block.rows);
  }
}

void VkSubmission::submitNext() {
  if (error_ || next_ >= commands_.size()) return;
  try {
    device_->submit(commands_[next_], fences_[next_]);
  } catch (const std::exception& error) {
    fail(std::string("the Vulkan device refused the work: ") + error.what());
    return stop();
  }
  if (device_->options().onSubmission) device_->options().onSubmission(blocks_[next_]);
  inFlight_ = next_++;
}

bool VkSubmission::awaitInFlight(std::chrono::steady_clock::time_point deadline, bool forever) {
  using namespace std::chrono;
  const auto left = duration_cast<nanoseconds>(deadline - steady_clock::now()).count();
  const std::uint64_t timeout =
      forever ? UINT64_MAX : static_cast<std::uint64_t>(std::max<std::int64_t>(left, 0));
  vk::Result result = vk::Result::eErrorDeviceLost;
  try {
    result = device_->logical().waitForFences(*fences_[*inFlight_], VK_TRUE, timeout);
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
    if (!device.tile().stored) throw;
    device.dropStoredTile(std::string("it did not build: ") + error.what());
    tile_ = device.tile().tile;
    build(device);
  }
}

// The tile's six numbers are the shader's specialization constants 0 to 5, in their order.
void MatmulKernel::build(Device& device) {
  using linux_gpu::KernelTile;
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
                                               const MatmulKernel& kernel,
                                               std::vector<pf::MatrixProduct> products,
                                               const BufferOf& bufferOf) {
  std::vector<ProductPlan> plans;
  std::uint32_t dispatches = 0;
  for (const auto& product : products) {
    plans.push_back(
        planProduct(product, device->limits(), device->options().maxFlopsPerSubmission));
    for (const auto& block : plans.back().submissions)
      dispatches += static_cast<std::uint32_t>(block.dispatches.size());
  }
  auto submission = std::make_shared<VkSubmission>(device, dispatches);
  for (std::size_t i = 0; i < products.size(); ++i) {
    submission->keep(products[i]);
    if (plans[i].error) {
      submission->fail(*plans[i].error);
      break;
    }
    try {
      submission->record(kernel, products[i], plans[i], bufferOf);
    } catch (const std::exception& error) {
      submission->fail(std::string("the Vulkan device refused the work: ") + error.what());
      break;
    }
  }
  submission->start();
  return submission;
}

}  // namespace ventra::gpu::vulkan
