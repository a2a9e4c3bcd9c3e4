// The GPU port's contract, once, for every backend this build has: the fake GPU, OpenCL (PoCL's
// CPU device here) and Vulkan (lavapipe here, under the Khronos validation layer: any message
// it reports fails the test). A backend with no device on this machine is skipped, saying so.
#include <gtest/gtest.h>

#include "composition/composition.h"
#include "gpu/gpu_load.h"
#include "gpu/platform/fake/fake_gpu.h"
#include "gpu_backends.h"

namespace ventra {
namespace {
namespace pf = gpu::platform;
using test::GpuBackend;

// Integer operands keep every partial sum exact in float32, so results compare exactly.
std::vector<float> matrix(std::uint64_t rows, std::uint64_t columns, int seed) {
  std::vector<float> values(rows * columns);
  for (std::uint64_t i = 0; i < values.size(); ++i)
    values[i] = static_cast<float>(static_cast<int>((i * 7 + seed * 13 + i / columns) % 9) - 4);
  return values;
}

// left × right on the host, row-major.
std::vector<float> product(const std::vector<float>& left, const std::vector<float>& right,
                           std::uint64_t m, std::uint64_t k, std::uint64_t n) {
  std::vector<float> result(m * n, 0.0f);
  for (std::uint64_t i = 0; i < m; ++i)
    for (std::uint64_t x = 0; x < k; ++x)
      for (std::uint64_t j = 0; j < n; ++j) result[i * n + j] += left[i * k + x] * right[x * n + j];
  return result;
}

class GpuPortContract : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    backend_ = test::makeGpuBackend(GetParam(), options_);
    if (!backend_.platform->defaultDevice()) GTEST_SKIP() << GetParam() << ": no device here";
  }
  void TearDown() override {
    if (backend_.platform) {
      EXPECT_EQ(backend_.validationMessages(), "") << GetParam();
    }
  }
  std::shared_ptr<pf::Device> device() {
    return std::make_shared<pf::Device>(backend_.platform, *backend_.platform->defaultDevice());
  }
  // C = left × right through the port's front; C's elements, or the command buffer's error.
  std::vector<float> multiply(const std::vector<float>& left, const std::vector<float>& right,
                              std::uint64_t m, std::uint64_t k, std::uint64_t n) {
    auto gpu = device();
    auto a = gpu->newBufferWithBytes(left.data(), left.size() * 4, 16);
    auto b = gpu->newBufferWithBytes(right.data(), right.size() * 4, 16);
    auto c = gpu->newBufferWithLength(m * n * 4, 16);
    EXPECT_TRUE(a && b && c);
    if (!a || !b || !c) return {};
    auto describe = [](std::uint64_t rows, std::uint64_t columns) {
      return pf::matrixDescriptorWithRows(rows, columns, columns * 4, pf::MPSDataTypeFloat32);
    };
    auto commands = gpu->newCommandQueue()->commandBuffer();
    gpu->newMatrixMultiplication(m, n, k)->encodeToCommandBuffer(
        *commands, *pf::initMatrixWithBuffer(a, describe(m, k)),
        *pf::initMatrixWithBuffer(b, describe(k, n)), *pf::initMatrixWithBuffer(c, describe(m, n)));
    commands->commit();
    if (pollSeconds_ > 0)
      while (!commands->waitUntilCompleted(pollSeconds_)) {
      }
    else
      commands->waitUntilCompleted();
    EXPECT_FALSE(commands->error()) << *commands->error();
    std::vector<float> result(m * n);
    EXPECT_TRUE(c->readBytes(0, result.data(), result.size() * 4));
    return result;
  }

  gpu::linux_gpu::BackendOptions options_;
  GpuBackend backend_;
  double pollSeconds_ = 0;  // wait this long at a time; 0: until done
};

TEST_P(GpuPortContract, DevicesStateTheirFactsAndWhereTheyCameFrom) {
  for (const auto& facts : backend_.platform->devices()) {
    EXPECT_FALSE(facts.name.empty());
    EXPECT_GT(facts.workingSetBytes, 0u) << facts.name;
    EXPECT_FALSE(facts.details.stack.empty()) << facts.name;
    EXPECT_FALSE(facts.details.memorySource.empty()) << facts.name;
  }
  EXPECT_EQ(backend_.platform->defaultDevice()->index, 0u);
}

TEST_P(GpuPortContract, ABufferHoldsTheBytesItWasMadeWithAndRefusesWhatTheDeviceCannot) {
  auto gpu = device();
  const auto bytes = matrix(33, 31, 1);
  auto buffer = gpu->newBufferWithBytes(bytes.data(), bytes.size() * 4, 16);
  ASSERT_TRUE(buffer);
  std::vector<float> back(bytes.size());
  ASSERT_TRUE(buffer->readBytes(0, back.data(), back.size() * 4));
  EXPECT_EQ(back, bytes);
  float tail[3];
  ASSERT_TRUE(buffer->readBytes((bytes.size() - 3) * 4, tail, sizeof tail));
  EXPECT_EQ(tail[2], bytes.back());
  EXPECT_FALSE(buffer->readBytes(bytes.size() * 4 - 2, tail, 4)) << "past the end";
  EXPECT_EQ(gpu->newBufferWithLength(UINT64_MAX / 2, 16), nullptr);
  EXPECT_EQ(gpu->newBufferWithLength(0, 16), nullptr);
}

// Sizes on and off every tile edge; a product that is not square catches swapped dimensions
// and operands, non-symmetric integers a transposed result.
TEST_P(GpuPortContract, ProductsAreRightInEveryElement) {
  for (std::uint64_t n : {1, 3, 17, 64, 65}) {
    auto a = matrix(n, n, 2), b = matrix(n, n, 3);
    EXPECT_EQ(multiply(a, b, n, n, n), product(a, b, n, n, n)) << "n = " << n;
  }
  auto a = matrix(19, 23, 4), b = matrix(23, 70, 5);
  EXPECT_EQ(multiply(a, b, 19, 23, 70), product(a, b, 19, 23, 70)) << "19 × 23 × 70";
}

// A caller that waits a little at a time (as the reset does, sampling the fan between waits)
// gets the same product: every block of rows goes, each when the one before it is done (in
// pieces of its interior where a kernel works more rows at once than 8).
TEST_P(GpuPortContract, WaitingALittleAtATimeGetsTheWholeProduct) {
  gpu::linux_gpu::BackendOptions cut;
  cut.maxFlopsPerSubmission = 2 * 65 * 65 * 8;  // 8 rows a block
  backend_ = test::makeGpuBackend(GetParam(), cut);
  pollSeconds_ = 0.0005;
  auto a = matrix(65, 65, 6), b = matrix(65, 65, 7);
  EXPECT_EQ(multiply(a, b, 65, 65, 65), product(a, b, 65, 65, 65));
  const auto blocks = backend_.blocks();
  std::uint64_t next = 0;
  for (const auto& block : blocks)
    if (block.first == next) next += block.count;
  EXPECT_TRUE(blocks.empty() || (next == 65 && blocks.size() >= 9)) << "every block went";
}

// A stop ends the work after the block the device runs: nothing after it is submitted, and a
// stop is not an error.
TEST_P(GpuPortContract, AStopEndsTheWorkAfterTheBlockInFlight) {
  gpu::linux_gpu::BackendOptions cut;
  cut.maxFlopsPerSubmission = 2 * 128 * 128 * 16;  // 8 blocks a product
  backend_ = test::makeGpuBackend(GetParam(), cut);
  ScopedComposition installed(Composition::ofGpu(backend_.platform));
  auto gpu = device();
  auto ones = std::vector<float>(128 * 128, 1.0f);
  auto descriptor = pf::matrixDescriptorWithRows(128, 128, 512, pf::MPSDataTypeFloat32);
  auto a =
      pf::initMatrixWithBuffer(gpu->newBufferWithBytes(ones.data(), 128 * 512, 16), descriptor);
  auto c = pf::initMatrixWithBuffer(gpu->newBufferWithLength(128 * 512, 16), descriptor);
  auto commands = gpu->newCommandQueue()->commandBuffer();
  auto kernel = gpu->newMatrixMultiplication(128, 128, 128);
  kernel->encodeToCommandBuffer(*commands, *a, *a, *c);
  kernel->encodeToCommandBuffer(*commands, *a, *a, *c);
  commands->commit();
  commands->stop();
  commands->waitUntilCompleted();
  EXPECT_FALSE(commands->error()) << *commands->error();
  EXPECT_LE(backend_.blocks().size(), 1u) << "of 16 blocks";
}

// At n = 1000 the operands are u·vᵀ and p·qᵀ, so the host's reference costs n² and every
// element is still checked: (u·vᵀ)(p·qᵀ) = (v·p) u·qᵀ.
TEST_P(GpuPortContract, ALargeProductIsRightInEveryElement) {
  const std::uint64_t n = 1000;
  std::vector<float> u(n), v(n), p(n), q(n), left(n * n), right(n * n), expected(n * n);
  float vp = 0;
  for (std::uint64_t i = 0; i < n; ++i) {
    u[i] = static_cast<float>(i % 7 + 1), v[i] = static_cast<float>(i % 3 + 1);
    p[i] = static_cast<float>(i % 2 + 1), q[i] = static_cast<float>(i % 5 + 1);
    vp += v[i] * p[i];
  }
  for (std::uint64_t i = 0; i < n; ++i)
    for (std::uint64_t j = 0; j < n; ++j) {
      left[i * n + j] = u[i] * v[j], right[i * n + j] = p[i] * q[j];
      expected[i * n + j] = vp * u[i] * q[j];
    }
  auto result = multiply(left, right, n, n, n);
  ASSERT_EQ(result.size(), expected.size());
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < result.size(); ++i) wrong += result[i] != expected[i];
  EXPECT_EQ(wrong, 0u);
}

TEST_P(GpuPortContract, TheLoadLeavesOnesInAAndNInEveryElementOfC) {
  ScopedComposition installed(Composition::ofGpu(backend_.platform));
  for (std::int64_t n : {64, 100}) {
    test::LoadResult load = test::runLoad(n);
    ASSERT_FALSE(load.error) << *load.error;
    ASSERT_EQ(load.a.size(), static_cast<std::size_t>(n * n));
    for (float x : load.a) ASSERT_EQ(x, 1.0f);
    for (float x : load.c) ASSERT_EQ(x, static_cast<float>(n));
  }
}

// A matrix from another backend never reaches this one: the product ends in an error.
TEST_P(GpuPortContract, AProductWithAForeignMatrixIsRefused) {
  auto other = std::make_shared<gpu::fake::FakeGPU>(
      gpu::fake::FakeGPUOptions{{{"elsewhere", 1 << 30}}, {}, 1 << 20});
  auto foreign = pf::Device(other, *other->defaultDevice()).newBufferWithLength(64, 16);
  auto gpu = device();
  auto descriptor = pf::matrixDescriptorWithRows(4, 4, 16, pf::MPSDataTypeFloat32);
  auto here = pf::initMatrixWithBuffer(gpu->newBufferWithLength(64, 16), descriptor);
  auto there = pf::initMatrixWithBuffer(foreign, descriptor);
  auto commands = gpu->newCommandQueue()->commandBuffer();
  gpu->newMatrixMultiplication(4, 4, 4)->encodeToCommandBuffer(*commands, *here, *there, *here);
  commands->commit();
  commands->waitUntilCompleted();
  EXPECT_TRUE(commands->error().has_value());
}

TEST_P(GpuPortContract, EverythingIsReleasedAtTheEnd) {
  {
    ScopedComposition installed(Composition::ofGpu(backend_.platform));
    test::runLoad(65);
    auto a = matrix(5, 5, 1);
    multiply(a, a, 5, 5, 5);
  }
  EXPECT_TRUE(backend_.released()) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Backends, GpuPortContract, ::testing::ValuesIn(test::gpuBackendNames()),
                         [](const auto& named) { return std::string(named.param); });

}  // namespace
}  // namespace ventra
