#include "gpu/gpu_load.h"
#include "composition/composition.h"

#include <gtest/gtest.h>

#include "gpu/platform/fake/fake_gpu.h"

namespace ventra {
namespace {
namespace fake = gpu::fake;
namespace pf = gpu::platform;

std::shared_ptr<fake::FakeGPU> fakeGPU(std::set<std::string> failing = {},
                                       std::uint64_t computeLimit = 0) {
  return std::make_shared<fake::FakeGPU>(
      fake::FakeGPUOptions{{{"AMD Radeon RX 580", 8589934592}}, std::move(failing), computeLimit});
}

TEST(GpuLoad, FullSizeCallOrderWithoutDeviceMemory) {
  auto gpu = fakeGPU();
  ScopedComposition installed(Composition::ofGpu(gpu));
  runGPULoad(16384);
  EXPECT_EQ(gpu->calls(), (std::vector<std::string>{
                              "MTLCreateSystemDefaultDevice",
                              "newCommandQueue",
                              "commandBuffer() -> commandBuffer#1",
                              "newBufferWithPattern(1073741824, 16) -> buffer#1",
                              "newBufferWithLength(1073741824, 16) -> buffer#2",
                              "matrixDescriptor(16384, 16384, 65536, 0x10000020)",
                              "initMatrix(buffer#1)",
                              "initMatrix(buffer#2)",
                              "newMatrixMultiplication(16384, 16384, 16384)",
                              "encode(commandBuffer#1, buffer#1, buffer#1, buffer#2)",
                              "encode(commandBuffer#1, buffer#1, buffer#1, buffer#2)",
                              "commit(commandBuffer#1)",
                              "waitUntilCompleted(commandBuffer#1)",
                          }));
  EXPECT_TRUE(gpu->filledWithOnes());
  EXPECT_EQ(gpu->liveObjects(), 0);
}

// A step that yields nothing ends the load there, and nothing is left behind.
TEST(GpuLoad, GivesUpAtTheFirstMissingStepAndReleasesEverything) {
  const std::pair<const char*, std::size_t> steps[] = {
      {"MTLCreateSystemDefaultDevice", 1},
      {"newCommandQueue", 2},
      {"commandBuffer", 3},
      {"newBufferWithPattern", 4},
      {"newBufferWithLength", 5},
      {"newMatrixMultiplication", 9},
  };
  for (const auto& [step, callsMade] : steps) {
    auto gpu = fakeGPU({step});
    ScopedComposition installed(Composition::ofGpu(gpu));
    runGPULoad(64);
    EXPECT_EQ(gpu->calls().size(), callsMade) << step;
    EXPECT_EQ(gpu->liveObjects(), 0) << step;
  }
}

TEST(GpuLoad, NoDeviceOrImpossibleSizeDoesNothingHarmful) {
  ScopedComposition none(Composition::ofGpu(nullptr));
  runGPULoad(16);  // no platform at all
  auto gpu = fakeGPU();
  ScopedComposition installed(Composition::ofGpu(gpu));
  runGPULoad(-1);
  runGPULoad(INT64_MAX / 2);  // n × n × 4 does not fit
  EXPECT_TRUE(gpu->calls().empty());
}

class ResultCheck : public GPULoadObserver {
 public:
  void completed(pf::CommandBuffer&, pf::Buffer& result) override {
    values.resize(result.length() / 4);
    readable = result.readBytes(0, values.data(), result.length());
  }
  std::vector<float> values;
  bool readable = false;
};

TEST(GpuLoad, SmallProductsHoldNEverywhere) {
  auto gpu = fakeGPU({}, 1 << 20);
  ScopedComposition installed(Composition::ofGpu(gpu));
  ResultCheck check;
  runGPULoad(37, &check);
  ASSERT_TRUE(check.readable);
  ASSERT_EQ(check.values.size(), 37u * 37u);
  for (float v : check.values) ASSERT_EQ(v, 37.0f);
}

}  // namespace
}  // namespace ventra
