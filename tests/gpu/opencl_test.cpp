// The OpenCL backend on whatever OpenCL devices the machine has (PoCL's CPU device in CI).
#include <gtest/gtest.h>

#include "composition/composition.h"
#include "gpu/gpu_load.h"
#include "gpu/platform/linux/stacks.h"

namespace ventra {
namespace {
namespace pf = gpu::platform;

// The default OpenCL device, CPU devices included, through the port's front.
std::shared_ptr<pf::Device> anyDevice() {
  auto platform = gpu::linux_gpu::stackPlatform(
      gpu::linux_gpu::Stack::opencl, gpu::linux_gpu::BackendOptions::withCpuDevices(true));
  auto facts = platform->defaultDevice();
  return facts ? std::make_shared<pf::Device>(platform, *facts) : nullptr;
}

// Non-symmetric operands catch a transposed or swapped product, which all-ones input cannot.
TEST(OpenCLBackend, RowMajorProductMatchesTheHostReference) {
  auto device = anyDevice();
  if (!device) GTEST_SKIP() << "no OpenCL device";
  const std::uint64_t m = 19, k = 23, n = 17;
  std::vector<float> a(m * k), b(k * n), expected(m * n, 0.0f);
  for (std::uint64_t i = 0; i < a.size(); ++i) a[i] = static_cast<float>(i % 7) - 3.0f;
  for (std::uint64_t i = 0; i < b.size(); ++i) b[i] = static_cast<float>(i % 5) * 0.5f;
  for (std::uint64_t i = 0; i < m; ++i)
    for (std::uint64_t j = 0; j < n; ++j)
      for (std::uint64_t x = 0; x < k; ++x) expected[i * n + j] += a[i * k + x] * b[x * n + j];

  auto bufferA =
      device->newBufferWithBytes(a.data(), a.size() * 4, pf::MTLResourceStorageModeManaged);
  auto bufferB =
      device->newBufferWithBytes(b.data(), b.size() * 4, pf::MTLResourceStorageModeManaged);
  auto bufferC = device->newBufferWithLength(m * n * 4, pf::MTLResourceStorageModeManaged);
  auto describe = [](std::uint64_t rows, std::uint64_t columns) {
    return std::make_shared<const pf::MatrixDescriptor>(
        pf::MatrixDescriptor{rows, columns, columns * 4, pf::MPSDataTypeFloat32});
  };
  pf::Matrix left{bufferA, describe(m, k)}, right{bufferB, describe(k, n)},
      result{bufferC, describe(m, n)};
  auto queue = device->newCommandQueue();
  auto commands = queue->commandBuffer();
  device->newMatrixMultiplication(m, n, k)->encodeToCommandBuffer(*commands, left, right, result);
  commands->commit();
  commands->waitUntilCompleted();
  ASSERT_FALSE(commands->error()) << *commands->error();
  std::vector<float> c(m * n);
  ASSERT_TRUE(bufferC->readBytes(0, c.data(), c.size() * 4));
  for (std::size_t i = 0; i < c.size(); ++i) EXPECT_FLOAT_EQ(c[i], expected[i]) << i;
}

class Verify : public GPULoadObserver {
 public:
  void completed(pf::CommandBuffer& commands, pf::Buffer&, pf::Buffer& result) override {
    error = commands.error();
    values.resize(result.length() / 4);
    readable = result.readBytes(0, values.data(), result.length());
  }
  std::optional<std::string> error;
  std::vector<float> values;
  bool readable = false;
};

TEST(OpenCLBackend, TheLoadLeavesNInEveryElement) {
  if (!anyDevice()) GTEST_SKIP() << "no OpenCL device";
  ScopedComposition installed(Composition::ofGpu(gpu::linux_gpu::stackPlatform(
      gpu::linux_gpu::Stack::opencl, gpu::linux_gpu::BackendOptions::withCpuDevices(true))));
  for (std::int64_t n : {64, 100}) {
    Verify verify;
    runGPULoad(n, &verify);
    ASSERT_FALSE(verify.error) << *verify.error;
    ASSERT_TRUE(verify.readable);
    for (float v : verify.values) ASSERT_EQ(v, static_cast<float>(n));
  }
}

TEST(OpenCLBackend, BuffersBeyondOneAllocationAreRefused) {
  auto device = anyDevice();
  if (!device) GTEST_SKIP() << "no OpenCL device";
  EXPECT_EQ(device->newBufferWithLength(UINT64_MAX / 2, pf::MTLResourceStorageModeManaged),
            nullptr);
  EXPECT_EQ(device->newBufferWithLength(0, pf::MTLResourceStorageModeManaged), nullptr);
}

// Each product goes to the device in blocks of rows, one submission each, with the same result.
TEST(OpenCLBackend, ProductsAreSubmittedInBlocksOfRows) {
  if (!anyDevice()) GTEST_SKIP() << "no OpenCL device";
  auto options = gpu::linux_gpu::BackendOptions::withCpuDevices();
  const std::int64_t n = 64;
  options.maxFlopsPerSubmission = 2 * n * n * 16;  // 16 rows a block
  std::vector<gpu::linux_gpu::RowBlock> submitted;
  options.onSubmission = [&](const gpu::linux_gpu::RowBlock& block) { submitted.push_back(block); };
  ScopedComposition installed(
      Composition::ofGpu(gpu::linux_gpu::stackPlatform(gpu::linux_gpu::Stack::opencl, options)));
  Verify verify;
  runGPULoad(n, &verify);
  ASSERT_FALSE(verify.error) << *verify.error;
  ASSERT_EQ(submitted.size(), 8u);  // two products of four blocks
  for (std::size_t i = 0; i < submitted.size(); ++i)
    EXPECT_EQ(submitted[i], (gpu::linux_gpu::RowBlock{16 * (i % 4), 16})) << i;
  for (float v : verify.values) ASSERT_EQ(v, static_cast<float>(n));
}

TEST(OpenCLBackend, DevicesSayWhereTheirFactsComeFrom) {
  auto device = anyDevice();
  if (!device) GTEST_SKIP() << "no OpenCL device";
  auto details = device->details();
  EXPECT_FALSE(details.stack.empty());
  EXPECT_FALSE(details.memorySource.empty());
}
}  // namespace
}  // namespace ventra
