#pragma once

// Matrix products on a Vulkan device: our compute shader's pipeline, made once per device, and
// the submissions that run a list of products through it, one block of rows each.

#include <functional>
#include <memory>
#include <vector>

#include "gpu/platform/backend.h"
#include "gpu/platform/vulkan/vulkan_device.h"

namespace ventra::gpu::vulkan {

// Our product shader (matmul.comp) built for a device with the device's tile. A stored tile that
// will not build is dropped, and the class default built instead.
class MatmulKernel {
 public:
  explicit MatmulKernel(Device& device);
  const tile::KernelTile& tile() const { return tile_; }
  const vk::raii::DescriptorSetLayout& setLayout() const { return setLayout_; }
  const vk::raii::PipelineLayout& layout() const { return layout_; }
  const vk::raii::Pipeline& pipeline() const { return pipeline_; }

 private:
  void build(Device& device);

  vk::raii::DescriptorSetLayout setLayout_;
  vk::raii::PipelineLayout layout_;
  tile::KernelTile tile_;
  vk::raii::Pipeline pipeline_{nullptr};
};

// The device buffer behind a port memory object of this backend.
using BufferOf = std::function<const Buffer&(const std::shared_ptr<platform::DeviceMemory>&)>;

// Plans every product and submits its first piece of work; each later piece is recorded and goes
// when the one before it has finished, while the caller waits. The submission keeps the kernel
// and the products' buffers alive until the last piece is done.
std::shared_ptr<platform::Submission> submitProducts(std::shared_ptr<Device> device,
                                                     std::shared_ptr<const MatmulKernel> kernel,
                                                     std::vector<platform::MatrixProduct> products,
                                                     const BufferOf& bufferOf,
                                                     bool reported = true);

}  // namespace ventra::gpu::vulkan
