// How a product is cut into windows for a device that binds less than a matrix: the plan is run
// here on the host exactly as the shader reads it, every read and write checked against its
// window, and compared with the product itself.
#include <gtest/gtest.h>

#include <algorithm>

#include "gpu/platform/vulkan/binding_windows.h"

namespace ventra {
namespace {
namespace pf = gpu::platform;
using gpu::vulkan::Binding;
using gpu::vulkan::DeviceLimits;
using gpu::vulkan::planProduct;

// Element `index` of a window, as the shader addresses it; out-of-window reads fail the test.
float& at(std::vector<float>& buffer, const Binding& binding, std::uint64_t index) {
  const std::uint64_t byte = binding.offset + (binding.firstElement + index) * 4;
  EXPECT_LT(byte + 3, binding.offset + binding.range) << "outside its window";
  EXPECT_LT(byte / 4, buffer.size());
  return buffer[std::min<std::uint64_t>(byte / 4, buffer.size() - 1)];
}

// Runs every dispatch of the plan as the shader does: result = (or +=) left × right per window.
std::vector<float> runPlan(std::vector<float> left, std::vector<float> right, std::uint64_t m,
                           std::uint64_t k, std::uint64_t n, const DeviceLimits& limits,
                           std::uint64_t flops, std::uint64_t leastRows = 1) {
  std::vector<float> result(m * n, -1.0f);
  pf::MatrixProduct product{nullptr, nullptr, nullptr, m, n, k, k * 4, n * 4, n * 4};
  auto plan = planProduct(product, limits, flops, leastRows);
  EXPECT_FALSE(plan.error) << *plan.error;
  for (const auto& submission : plan.submissions)
    for (const auto& d : submission.dispatches) {
      EXPECT_EQ(d.left.offset % limits.bindingAlignment, 0u);
      EXPECT_LE(d.left.range, limits.maxBindingBytes);
      EXPECT_LE(d.right.range, limits.maxBindingBytes);
      EXPECT_LE(d.result.range, limits.maxBindingBytes);
      for (std::uint64_t i = 0; i < d.rows; ++i)
        for (std::uint64_t j = 0; j < d.columns; ++j) {
          float sum = 0;
          for (std::uint64_t x = 0; x < d.interior; ++x)
            sum += at(left, d.left, i * k + x) * at(right, d.right, x * n + j);
          float& out = at(result, d.result, i * n + j);
          out = d.accumulate ? out + sum : sum;
        }
    }
  return result;
}

std::vector<float> integers(std::uint64_t count, int seed) {
  std::vector<float> values(count);
  for (std::uint64_t i = 0; i < count; ++i) values[i] = static_cast<float>((i * 5 + seed) % 7) - 3;
  return values;
}

TEST(VulkanWindows, SmallBindingsStillGiveTheWholeProduct) {
  struct Case {
    std::uint64_t m, k, n, binding, alignment, flops;
    std::uint64_t leastRows = 1;
  };
  // The last two: blocks of 16 rows (a CPU tile's) cut into pieces of the interior, one
  // submission each, the later adding to the earlier.
  for (const Case& c :
       {Case{65, 65, 65, 4096, 16, 1ull << 40}, Case{17, 40, 23, 256, 64, 4000},
        Case{33, 100, 9, 512, 4, 1ull << 40}, Case{3, 3, 3, 64, 16, 10},
        Case{40, 90, 30, 1 << 20, 16, 2 * 16 * 30 * 20, 16}, Case{21, 50, 7, 512, 16, 100, 16}}) {
    auto left = integers(c.m * c.k, 1), right = integers(c.k * c.n, 2);
    std::vector<float> expected(c.m * c.n, 0.0f);
    for (std::uint64_t i = 0; i < c.m; ++i)
      for (std::uint64_t x = 0; x < c.k; ++x)
        for (std::uint64_t j = 0; j < c.n; ++j)
          expected[i * c.n + j] += left[i * c.k + x] * right[x * c.n + j];
    EXPECT_EQ(runPlan(left, right, c.m, c.k, c.n, {c.binding, c.alignment}, c.flops, c.leastRows),
              expected)
        << c.m << " x " << c.k << " x " << c.n << ", binding " << c.binding;
  }
}

// The app's load on lavapipe's limits: eight submissions of 2048 rows, each two windows of rows
// by nine of the interior, none binding more than 128 MiB; on a device that binds a whole
// matrix, one dispatch a submission.
TEST(VulkanWindows, TheFullSizeLoadFitsLavapipesBindingAndIsWholeElsewhere) {
  const std::uint64_t n = 16384;
  pf::MatrixProduct product{nullptr, nullptr, nullptr, n, n, n, n * 4, n * 4, n * 4};
  auto lavapipe = planProduct(product, {128ull << 20, 16}, 1ull << 40);
  ASSERT_FALSE(lavapipe.error);
  ASSERT_EQ(lavapipe.submissions.size(), 8u);
  EXPECT_EQ(lavapipe.submissions[0].dispatches.size(), 2u * 9u);
  for (const auto& d : lavapipe.submissions[3].dispatches)
    EXPECT_LE(std::max({d.left.range, d.right.range, d.result.range}), 128ull << 20);
  auto radv = planProduct(product, {0xFFFFFFFFull, 4}, 1ull << 40);
  ASSERT_EQ(radv.submissions.size(), 8u);
  EXPECT_EQ(radv.submissions[0].dispatches.size(), 1u);
}

// The same load on a CPU device: blocks of the direct tile's 16 rows are still 8.6 GFLOP, so each
// is cut into pieces of its interior (nine, as lavapipe binds 2047 rows of a matrix at once),
// none over the CPU's 2^30, the first of each block writing and the others adding.
TEST(VulkanWindows, OnACpuDeviceEverySubmissionIsAFractionOfASecond) {
  const std::uint64_t n = 16384, budget = 1ull << 30;
  pf::MatrixProduct product{nullptr, nullptr, nullptr, n, n, n, n * 4, n * 4, n * 4};
  auto plan = planProduct(product, {128ull << 20, 16}, budget, 16);
  ASSERT_FALSE(plan.error);
  ASSERT_EQ(plan.submissions.size(), n / 16 * 9);
  for (std::size_t i = 0; i < plan.submissions.size(); ++i) {
    const auto& submission = plan.submissions[i];
    std::uint64_t flops = 0;
    for (const auto& d : submission.dispatches) {
      flops += 2ull * d.rows * d.columns * d.interior;
      EXPECT_EQ(d.accumulate, i % 9 != 0) << i;
    }
    ASSERT_LE(flops, budget) << i;
    ASSERT_EQ(submission.rows, (gpu::linux_gpu::RowBlock{i / 9 * 16, 16}));
  }
}

TEST(VulkanWindows, ARowLargerThanOneBindingIsAnError) {
  pf::MatrixProduct product{nullptr, nullptr, nullptr, 8, 2000, 8, 32, 8000, 8000};
  auto plan = planProduct(product, {4096, 16}, 1ull << 40);
  ASSERT_TRUE(plan.error);
  EXPECT_NE(plan.error->find("4096 bytes"), std::string::npos) << *plan.error;
}

}  // namespace
}  // namespace ventra
