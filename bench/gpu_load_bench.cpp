// The fan-reset workload on each Linux stack's default device (CPU devices allowed: lavapipe for
// Vulkan, PoCL for OpenCL here) against the same two products with OpenBLAS on the host, at
// n = 512, 1024, 2048. Prints Google Benchmark's table, then each stack's ratio to OpenBLAS per n.
#include <benchmark/benchmark.h>
#include <cblas.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "composition/composition.h"
#include "gpu/gpu_load.h"
#include "gpu/platform/linux/stacks.h"
#include "gpu/platform/linux/tile_store.h"

namespace {
using namespace ventra;
namespace lg = gpu::linux_gpu;

double flopsOfTwoProducts(std::int64_t n) {
  return 4.0 * std::pow(static_cast<double>(n), 3);
}

void setRate(benchmark::State& state, std::int64_t n) {
  state.counters["GFLOP/s"] = benchmark::Counter(flopsOfTwoProducts(n) * 1e-9,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

void stackLoad(benchmark::State& state, lg::Stack stack) {
  const std::int64_t n = state.range(0);
  auto options = lg::BackendOptions::withCpuDevices(true);
  options.tileStore = lg::userTileStore();  // Vulkan: the tile `ventractl gpu tune` stored
  auto platform = lg::stackPlatform(stack, options);
  auto device = platform->defaultDevice();
  if (!device) return state.SkipWithError("no device on this stack");
  state.SetLabel(device->details.kernel);
  ScopedComposition installed(Composition::ofGpu(platform));
  runGPULoad(n);  // compiles the kernels outside the timing
  for (auto _ : state) runGPULoad(n);
  setRate(state, n);
}

void BM_Vulkan(benchmark::State& state) {
  stackLoad(state, lg::Stack::vulkan);
}

void BM_OpenCL(benchmark::State& state) {
  stackLoad(state, lg::Stack::opencl);
}

void BM_OpenBLAS(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  std::vector<float> a(static_cast<std::size_t>(n) * n, 1.0f), c(a.size());
  for (auto _ : state) {
    for (int product = 0; product < 2; ++product)
      cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, n, n, n, 1.0f, a.data(), n, a.data(),
                  n, 0.0f, c.data(), n);
    benchmark::DoNotOptimize(c.data());
  }
  setRate(state, n);
}

#define VENTRA_SIZES(bench) \
  BENCHMARK(bench)->Arg(512)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime()
VENTRA_SIZES(BM_Vulkan);
VENTRA_SIZES(BM_OpenCL);
VENTRA_SIZES(BM_OpenBLAS);

// Keeps each run's time per iteration so the ratios can be printed from the same run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      // A run that did not measure (no device on its stack) has no rate; the field that says
      // so is named differently in each Google Benchmark release. With repetitions, the mean
      // stands for them (the spread's aggregates are no time).
      if (run.counters.contains("GFLOP/s") &&
          (run.aggregate_name.empty() || run.aggregate_name == "mean"))
        millis[run.run_name.function_name][std::stol(run.run_name.args)] =
            run.GetAdjustedRealTime();  // in the benchmark's unit (ms)
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::map<long, double>> millis;  // by n
};

double ratio(RatioReporter& reporter, const char* name, long n) {
  auto& stack = reporter.millis[name];
  auto found = stack.find(n);
  return found == stack.end() ? NAN : found->second / reporter.millis["BM_OpenBLAS"][n];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%6s  %14s  %14s  %14s  %17s  %17s\n", "n", "Vulkan ms", "OpenCL ms", "OpenBLAS ms",
              "Vulkan/OpenBLAS", "OpenCL/OpenBLAS");
  for (const auto& [size, blas] : reporter.millis["BM_OpenBLAS"]) {
    const long n = size;  // a lambda may not capture a structured binding in every compiler here
    auto time = [&](const char* name) {
      auto found = reporter.millis[name].find(n);
      return found == reporter.millis[name].end() ? NAN : found->second;
    };
    std::printf("%6ld  %14.2f  %14.2f  %14.2f  %17.2f  %17.2f\n", n, time("BM_Vulkan"),
                time("BM_OpenCL"), blas, ratio(reporter, "BM_Vulkan", n),
                ratio(reporter, "BM_OpenCL", n));
  }
  benchmark::Shutdown();
  return 0;
}
