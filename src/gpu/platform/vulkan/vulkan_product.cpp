#include "gpu/platform/vulkan/vulkan_product.h"

#include <array>
#include <cstddef>

namespace ventra::gpu::vulkan {
namespace pf = platform;
namespace {

const std::uint32_t kMatmulSpirv[] = {
#include "matmul.spv.inc"
};

constexpr std::uint32_t kInvocations = 64;  // the shader's workgroup

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

class VkSubmission final : public pf::Submission {
 public:
  VkSubmission(std::shared_ptr<Device> device, std::uint32_t dispatches)
      : device_(std::move(device)),
        pool_(device_->logical(), {{}, device_->queueFamily()}),
        descriptors_(makeDescriptorPool(dispatches)) {}
  ~VkSubmission() override { finish(); }
  void run(const MatmulKernel& kernel, const pf::MatrixProduct& product, const ProductPlan& plan,
           const BufferOf& bufferOf);
  void keep(const pf::MatrixProduct& product) {
    kept_.insert(kept_.end(), {product.left, product.right, product.result});
  }
  void fail(std::string why) {
    if (!error_) error_ = std::move(why);
  }
  std::optional<std::string> wait() override {
    finish();
    return error_;
  }

 private:
  vk::raii::DescriptorPool makeDescriptorPool(std::uint32_t dispatches) {
    vk::DescriptorPoolSize size(vk::DescriptorType::eStorageBuffer, 3 * std::max(dispatches, 1u));
    return {device_->logical(),
            {vk::DescriptorPoolCreateFlagBits::eFreeDescriptorSet, std::max(dispatches, 1u), size}};
  }
  void record(const vk::raii::CommandBuffer& commands, const MatmulKernel& kernel,
              const pf::MatrixProduct& product, const Dispatch& dispatch, const BufferOf& bufferOf);
  void finish() {
    for (const auto& fence : fences_)
      if (device_->logical().waitForFences(*fence, VK_TRUE, UINT64_MAX) != vk::Result::eSuccess)
        fail("the device did not finish the products");
    fences_.clear();
  }

  std::shared_ptr<Device> device_;
  vk::raii::CommandPool pool_;
  vk::raii::DescriptorPool descriptors_;
  std::vector<vk::raii::CommandBuffer> commands_;
  std::vector<vk::raii::DescriptorSet> sets_;
  std::vector<vk::raii::Fence> fences_;
  std::vector<std::shared_ptr<pf::DeviceMemory>> kept_;  // in use until the fences signal
  std::optional<std::string> error_;
};

void VkSubmission::record(const vk::raii::CommandBuffer& commands, const MatmulKernel& kernel,
                          const pf::MatrixProduct& p, const Dispatch& d, const BufferOf& bufferOf) {
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
  const std::uint32_t tileColumns = kInvocations * kernel.tile().columnsPerInvocation;
  commands.dispatch((d.columns + tileColumns - 1) / tileColumns,
                    (d.rows + kernel.tile().rows - 1) / kernel.tile().rows, 1);
}

// One command buffer and one queue submission per block of rows.
void VkSubmission::run(const MatmulKernel& kernel, const pf::MatrixProduct& product,
                       const ProductPlan& plan, const BufferOf& bufferOf) {
  for (const auto& block : plan.submissions) {
    auto& commands = commands_.emplace_back(std::move(vk::raii::CommandBuffers(
        device_->logical(), {*pool_, vk::CommandBufferLevel::ePrimary, 1})[0]));
    commands.begin({vk::CommandBufferUsageFlagBits::eOneTimeSubmit});
    for (const auto& dispatch : block.dispatches)
      record(commands, kernel, product, dispatch, bufferOf);
    commands.end();
    auto& fence = fences_.emplace_back(device_->logical(), vk::FenceCreateInfo());
    device_->submit(commands, fence);
    if (device_->options().onSubmission) device_->options().onSubmission(block.rows);
  }
}

}  // namespace

constexpr vk::PushConstantRange kShapeRange(vk::ShaderStageFlagBits::eCompute, 0,
                                            sizeof(PushConstants));

// A CPU driver runs the workgroup's invocations as vector lanes and pays for every load lane by
// lane, so it gets the largest block of sums per invocation; a GPU needs registers to spare for
// other waves.
MatmulKernel::Tile tileFor(const Device& device) {
  return device.isCpu() ? MatmulKernel::Tile{16, 16} : MatmulKernel::Tile{16, 4};
}

MatmulKernel::MatmulKernel(Device& device)
    : setLayout_(makeSetLayout(device)),
      layout_(device.logical(), {{}, *setLayout_, kShapeRange}),
      tile_(tileFor(device)) {
  vk::raii::ShaderModule shader(device.logical(), {{}, sizeof kMatmulSpirv, kMatmulSpirv});
  const std::array<vk::SpecializationMapEntry, 2> entries{
      vk::SpecializationMapEntry{0, offsetof(Tile, rows), sizeof(std::uint32_t)},
      vk::SpecializationMapEntry{1, offsetof(Tile, columnsPerInvocation), sizeof(std::uint32_t)}};
  vk::SpecializationInfo specialization(entries, vk::ArrayProxyNoTemporaries<const Tile>(tile_));
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
      submission->run(kernel, products[i], plans[i], bufferOf);
    } catch (const std::exception& error) {
      submission->fail(std::string("the Vulkan device refused the work: ") + error.what());
      break;
    }
  }
  return submission;
}

}  // namespace ventra::gpu::vulkan
