#include "gpu/gpu_load.h"
#include "composition/composition.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "gpu/gpu_workload.h"
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

// What reaches the device: A copied from the host array, C, then both products A × A into C as
// one submission, waited for.
TEST(GpuLoad, FullSizeWorkWithoutDeviceMemory) {
  auto gpu = fakeGPU();
  ScopedComposition installed(Composition::ofGpu(gpu));
  runGPULoad(16384);
  const std::string product =
      "buffer#1 x buffer#1 -> buffer#2 (16384x16384x16384, rows 65536/65536/65536 bytes)";
  EXPECT_EQ(gpu->calls(), (std::vector<std::string>{
                              "defaultDevice",
                              "copy(device 0, 1073741824 bytes) -> buffer#1",
                              "allocate(device 0, 1073741824 bytes) -> buffer#2",
                              "submit(device 0, " + product + ", " + product + ") -> work#1",
                              "wait(work#1)",
                          }));
  EXPECT_EQ(gpu->liveObjects(), 0);
}

// A step that yields nothing ends the load there, and nothing is left behind.
TEST(GpuLoad, GivesUpAtTheFirstMissingStepAndReleasesEverything) {
  const std::pair<const char*, std::size_t> steps[] = {
      {"defaultDevice", 1},
      {"copy", 2},
      {"allocate", 3},
  };
  for (const auto& [step, callsMade] : steps) {
    auto gpu = fakeGPU({step});
    ScopedComposition installed(Composition::ofGpu(gpu));
    runGPULoad(64);
    EXPECT_EQ(gpu->calls().size(), callsMade) << step;
    EXPECT_EQ(gpu->liveObjects(), 0) << step;
  }
}

// Work the device refuses is an error after the wait, not a crash or a silent success.
TEST(GpuLoad, RefusedWorkIsReportedOnCompletion) {
  auto gpu = fakeGPU({"submit"});
  ScopedComposition installed(Composition::ofGpu(gpu));
  struct : GPULoadObserver {
    void completed(pf::CommandBuffer& commandBuffer, pf::Buffer&, pf::Buffer&) override {
      error = commandBuffer.error();
    }
    std::optional<std::string> error;
  } observer;
  runGPULoad(64, &observer);
  ASSERT_TRUE(observer.error.has_value());
  EXPECT_EQ(gpu->liveObjects(), 0);
}

// A backend is only ever handed memory it made on the device it works on.
TEST(GpuPort, AProductWithAMatrixFromAnotherDeviceIsRefused) {
  auto gpu = std::make_shared<fake::FakeGPU>(
      fake::FakeGPUOptions{{{"first", 1 << 30}, {"second", 1 << 30}}, {}, 1 << 20});
  ScopedComposition installed(Composition::ofGpu(gpu));
  auto devices = pf::MTLCopyAllDevices();
  ASSERT_EQ(devices.size(), 2u);
  auto descriptor = pf::matrixDescriptorWithRows(4, 4, 16, pf::MPSDataTypeFloat32);
  auto here = pf::initMatrixWithBuffer(devices[0]->newBufferWithLength(64, 0), descriptor);
  auto there = pf::initMatrixWithBuffer(devices[1]->newBufferWithLength(64, 0), descriptor);
  auto commandBuffer = devices[0]->newCommandQueue()->commandBuffer();
  devices[0]->newMatrixMultiplication(4, 4, 4)->encodeToCommandBuffer(*commandBuffer, *here, *there,
                                                                      *here);
  commandBuffer->commit();
  commandBuffer->waitUntilCompleted();
  EXPECT_TRUE(commandBuffer->error().has_value());
  for (const auto& call : gpu->calls()) EXPECT_EQ(call.find("submit"), std::string::npos) << call;
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
  void completed(pf::CommandBuffer&, pf::Buffer& left, pf::Buffer& result) override {
    a.resize(left.length() / 4);
    c.resize(result.length() / 4);
    readable = left.readBytes(0, a.data(), left.length()) &&
               result.readBytes(0, c.data(), result.length());
  }
  std::vector<float> a, c;
  bool readable = false;
};

// A holds the host array's ones, and C = A × A holds n everywhere.
TEST(GpuLoad, SmallProductsHoldNEverywhere) {
  auto gpu = fakeGPU({}, 1 << 20);
  ScopedComposition installed(Composition::ofGpu(gpu));
  ResultCheck check;
  runGPULoad(37, &check);
  ASSERT_TRUE(check.readable);
  ASSERT_EQ(check.a.size(), 37u * 37u);
  for (float v : check.a) ASSERT_EQ(v, 1.0f);
  ASSERT_EQ(check.c.size(), 37u * 37u);
  for (float v : check.c) ASSERT_EQ(v, 37.0f);
}

// The fake's products keep it busy for their operations at its rate, and that time passes on the
// caller's clock only while the caller waits: a wait with a limit spends at most the limit, and a
// stop drops what is left. The workload makes its objects once and encodes round after round.
TEST(FakeGpu, BusyTimePassesWhileTheCallerWaits) {
  double passed = 0;
  fake::FakeGPUOptions options({{"AMD Radeon RX 580", 8589934592}});
  options.flopsPerSecond = 2.0 * 64 * 64 * 64;  // one 64³ product a second
  options.passTime = [&](double seconds) { passed += seconds; };
  auto gpu = std::make_shared<fake::FakeGPU>(options);
  ScopedComposition installed(Composition::ofGpu(gpu));
  GPULoadObserver observer;
  GPUWorkload workload(64, observer);
  ASSERT_TRUE(workload.ready());
  auto round = workload.encode(2);
  round->commit();
  EXPECT_FALSE(round->waitUntilCompleted(0.5));
  EXPECT_FALSE(round->waitUntilCompleted(1.0));
  EXPECT_DOUBLE_EQ(passed, 1.5);
  EXPECT_TRUE(round->waitUntilCompleted(5.0));
  EXPECT_DOUBLE_EQ(passed, 2.0);
  auto next = workload.encode(1);
  next->commit();
  EXPECT_FALSE(next->waitUntilCompleted(0.25));
  next->stop();
  EXPECT_TRUE(next->waitUntilCompleted(5.0));
  EXPECT_FALSE(next->error());
  EXPECT_DOUBLE_EQ(passed, 2.25);
  const auto& calls = gpu->calls();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const std::string& call) { return call.starts_with("copy("); }),
            1)
      << "A is made once for every round";
  EXPECT_EQ(calls.back(), "wait(work#2)");
  EXPECT_EQ(calls[calls.size() - 2], "stop(work#2)");
}

}  // namespace
}  // namespace ventra
