// What each Linux stack promises beyond the port's contract: a load holds its two matrices and
// at most its budget on the device, products go in blocks of rows, and Vulkan reaches matrices
// larger than it binds at once. Run at small sizes with every limit scaled from the app's own.
#include <gtest/gtest.h>

#include <link.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "composition/composition.h"
#include "gpu/platform/metal.h"
#include "gpu_backends.h"

namespace ventra {
namespace {
namespace lg = gpu::linux_gpu;
namespace pf = gpu::platform;

class LinuxStack : public ::testing::TestWithParam<const char*> {
 protected:
  test::GpuBackend make(lg::BackendOptions options) {
    auto backend = test::makeGpuBackend(GetParam(), std::move(options));
    if (!backend.platform->defaultDevice()) return {};
    return backend;
  }
  void expectSilent(const test::GpuBackend& backend) {
    EXPECT_EQ(backend.validationMessages(), "") << GetParam();
  }
};

// At n = 16384 a load may hold A and C (2 GiB) and 256 MiB besides. Here n = 1024: every
// limit that shapes the load (the budget, the work per submission, Vulkan's binding range as
// on lavapipe) is scaled by the same factor, so the load is cut as the full one is.
TEST_P(LinuxStack, ALoadHoldsItsTwoMatricesAndNoMoreThanTheBudgetBeside) {
  const std::int64_t n = 1024;
  const double scale = std::pow(n / 16384.0, 2);
  lg::BackendOptions options;
  options.extraMemoryBytes = static_cast<std::uint64_t>(lg::kDefaultExtraMemoryBytes * scale);
  options.maxFlopsPerSubmission =
      static_cast<std::uint64_t>(lg::kDefaultMaxFlopsPerSubmission * std::pow(n / 16384.0, 3));
  options.maxBindingBytes = static_cast<std::uint64_t>((128ull << 20) * scale);
  auto backend = make(options);
  if (!backend.platform) GTEST_SKIP() << GetParam() << ": no device here";
  ScopedComposition installed(Composition::ofGpu(backend.platform));
  test::LoadResult load = test::runLoad(n);
  ASSERT_FALSE(load.error) << *load.error;
  for (float x : load.c) ASSERT_EQ(x, static_cast<float>(n));
  const std::uint64_t matrices = 2ull * n * n * 4;
  EXPECT_GE(backend.meter->peak(), matrices) << "the meter saw the matrices";
  EXPECT_LE(backend.meter->peak(), matrices + options.extraMemoryBytes);
  EXPECT_GT(backend.blocks().size(), 2u) << "blocks of rows, as at full size";
  expectSilent(backend);
}

// 16 rows' work a submission: each of the two products goes as four submissions, with the same
// result: four blocks of 16 rows, or where the kernel works 64 rows at once (CLBlast pads to
// its work-group tile), one block of 64 in four pieces of its interior.
TEST_P(LinuxStack, ProductsAreSubmittedInBlocksOfRows) {
  const std::int64_t n = 64;
  lg::BackendOptions options;
  options.maxFlopsPerSubmission = 2 * n * n * 16;
  auto backend = make(options);
  if (!backend.platform) GTEST_SKIP() << GetParam() << ": no device here";
  ScopedComposition installed(Composition::ofGpu(backend.platform));
  test::LoadResult load = test::runLoad(n);
  ASSERT_FALSE(load.error) << *load.error;
  auto blocks = backend.blocks();
  ASSERT_EQ(blocks.size(), 8u);
  for (std::size_t i = 0; i < blocks.size(); ++i)
    if (blocks[i].count == 16)
      EXPECT_EQ(blocks[i], (lg::RowBlock{16 * (i % 4), 16})) << i;
    else
      EXPECT_EQ(blocks[i], (lg::RowBlock{0, 64})) << i;
  for (float x : load.c) ASSERT_EQ(x, static_cast<float>(n));
  expectSilent(backend);
}

// Work a CPU device would take seconds over is cut into pieces of the interior as well, each a
// submission of its own that adds to what the block's first piece wrote: the same result.
TEST_P(LinuxStack, BlocksTooMuchForOneSubmissionGoInPiecesOfTheirInterior) {
  const std::int64_t n = 128;
  lg::BackendOptions options = lg::BackendOptions::withCpuDevices();
  options.cpuMaxFlopsPerSubmission = 2 * n * n * 4;  // 4 rows' work: fewer than a kernel's least
  auto backend = make(options);
  if (!backend.platform) GTEST_SKIP() << GetParam() << ": no device here";
  ScopedComposition installed(Composition::ofGpu(backend.platform));
  test::LoadResult load = test::runLoad(n);
  ASSERT_FALSE(load.error) << *load.error;
  for (float x : load.c) ASSERT_EQ(x, static_cast<float>(n));
  EXPECT_GE(backend.blocks().size(), 2u * n / 4) << "at least as many submissions as 4-row blocks";
  expectSilent(backend);
}

// A wait with a time limit returns when the limit is up, the work still going; a later one finds
// it done. A 512³ product takes far longer than a millisecond on a CPU device.
TEST_P(LinuxStack, AWaitWithALimitReturnsWhileTheWorkGoesOn) {
  auto backend = make({});
  if (!backend.platform) GTEST_SKIP() << GetParam() << ": no device here";
  pf::Device gpu(backend.platform, *backend.platform->defaultDevice());
  const bool cpu = gpu.name().find("llvmpipe") != std::string::npos ||
                   gpu.details().stack.find("Portable Computing Language") != std::string::npos;
  if (!cpu) GTEST_SKIP() << "a GPU may finish within the limit";
  std::vector<float> ones(512 * 512, 1.0f);
  auto descriptor = pf::matrixDescriptorWithRows(512, 512, 2048, pf::MPSDataTypeFloat32);
  auto a =
      pf::initMatrixWithBuffer(gpu.newBufferWithBytes(ones.data(), 512 * 2048, 16), descriptor);
  auto c = pf::initMatrixWithBuffer(gpu.newBufferWithLength(512 * 2048, 16), descriptor);
  auto commands = gpu.newCommandQueue()->commandBuffer();
  gpu.newMatrixMultiplication(512, 512, 512)->encodeToCommandBuffer(*commands, *a, *a, *c);
  commands->commit();
  EXPECT_FALSE(commands->waitUntilCompleted(0.001));
  EXPECT_TRUE(commands->waitUntilCompleted(60.0));
  EXPECT_FALSE(commands->error());
  float corner = 0;
  ASSERT_TRUE(c->buffer->readBytes(0, &corner, 4));
  EXPECT_EQ(corner, 512.0f);
  expectSilent(backend);
}

// The contract's products on every tile the tuner may choose, edges and windows included, under
// the validation layer.
class VulkanTiles : public ::testing::TestWithParam<gpu::tile::KernelTile> {};

TEST_P(VulkanTiles, EveryTileTheTunerMayChooseMultipliesRight) {
  lg::BackendOptions options;
  options.tile = GetParam();
  options.maxBindingBytes = 16 * 1024;  // 130 × 130 floats do not fit one binding: windows
  auto backend = test::makeGpuBackend("vulkan", options);
  auto facts = backend.platform->defaultDevice();
  if (!facts) GTEST_SKIP() << "no Vulkan device here";
  EXPECT_EQ(facts->details.kernelSource, gpu::platform::KernelSource::given)
      << facts->details.kernel;
  EXPECT_NE(facts->details.kernel.find(GetParam().text()), std::string::npos)
      << facts->details.kernel;
  ScopedComposition installed(Composition::ofGpu(backend.platform));
  for (std::int64_t n : {1, 17, 65, 130}) {
    test::LoadResult load = test::runLoad(n);
    ASSERT_FALSE(load.error) << *load.error;
    for (float x : load.c) ASSERT_EQ(x, static_cast<float>(n)) << "n = " << n;
  }
  EXPECT_EQ(backend.validationMessages(), "");
}

INSTANTIATE_TEST_SUITE_P(Tiles, VulkanTiles, ::testing::ValuesIn(gpu::tile::tuningCandidates()),
                         [](const auto& named) {
                           std::string name = named.param.text();
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

std::set<std::string> loadedLibraries() {
  std::set<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* found) {
        if (info->dlpi_name && info->dlpi_name[0] == '/')
          static_cast<std::set<std::string>*>(found)->insert(info->dlpi_name);
        return 0;
      },
      &names);
  return names;
}

// A driver unloaded with its last object would take the names of what it left behind with it
// (the sanitizers' leak check then sees memory from nowhere): every library loaded while a stack
// held its driver stays loaded after everything made with it is gone.
TEST_P(LinuxStack, DriversStayLoadedAfterEverythingMadeWithThemIsGone) {
  std::set<std::string> whileHeld;
  {
    auto backend = make({});
    if (!backend.platform) GTEST_SKIP() << GetParam() << ": no device here";
    ScopedComposition installed(Composition::ofGpu(backend.platform));
    ASSERT_FALSE(test::runLoad(16).error);
    whileHeld = loadedLibraries();
  }
  auto after = loadedLibraries();
  std::vector<std::string> unloaded;
  std::set_difference(whileHeld.begin(), whileHeld.end(), after.begin(), after.end(),
                      std::back_inserter(unloaded));
  std::string names;
  for (const auto& name : unloaded) names += name + "\n";
  EXPECT_EQ(names, "");
}

INSTANTIATE_TEST_SUITE_P(Stacks, LinuxStack, ::testing::Values("opencl", "vulkan"),
                         [](const auto& named) { return std::string(named.param); });

// A device that binds 4 KiB at once still multiplies 65 × 65 matrices (about 17 KiB each),
// through windows of rows and of the interior; one that cannot bind a single row says so.
TEST(VulkanStack, MatricesLargerThanOneBindingAreMultipliedThroughWindows) {
  lg::BackendOptions options;
  options.maxBindingBytes = 4096;
  auto backend = test::makeGpuBackend("vulkan", options);
  if (!backend.platform->defaultDevice()) GTEST_SKIP() << "no Vulkan device here";
  ScopedComposition installed(Composition::ofGpu(backend.platform));
  test::LoadResult load = test::runLoad(65);
  ASSERT_FALSE(load.error) << *load.error;
  for (float x : load.c) ASSERT_EQ(x, 65.0f);
  load = test::runLoad(1100);  // one row is 4400 bytes
  ASSERT_TRUE(load.error);
  EXPECT_NE(load.error->find("more than the device binds at once"), std::string::npos)
      << *load.error;
  EXPECT_EQ(backend.validationMessages(), "");
}

}  // namespace
}  // namespace ventra
