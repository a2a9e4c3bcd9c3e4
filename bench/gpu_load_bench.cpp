// The fan-reset workload on the OpenCL device against the same two products with OpenBLAS on
// the host, at n = 512, 1024, 2048. Prints Google Benchmark's table, then the ratio per n.
#include <benchmark/benchmark.h>
#include <cblas.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "composition/composition.h"
#include "gpu/gpu_load.h"
#include "gpu/platform/linux/stacks.h"

namespace {
using namespace ventra;
namespace pf = gpu::platform;

double flopsOfTwoProducts(std::int64_t n) {
  return 4.0 * std::pow(static_cast<double>(n), 3);
}

void BM_OpenCLLoad(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  auto platform = gpu::linux_gpu::stackPlatform(
      gpu::linux_gpu::Stack::opencl, gpu::linux_gpu::BackendOptions::withCpuDevices(true));
  if (!platform->defaultDevice()) return state.SkipWithError("no OpenCL device");
  ScopedComposition installed(Composition::ofGpu(platform));
  runGPULoad(n);  // compiles the kernels for this size outside the timing
  for (auto _ : state) runGPULoad(n);
  state.counters["GFLOP/s"] = benchmark::Counter(flopsOfTwoProducts(n) * 1e-9,
                                                 benchmark::Counter::kIsIterationInvariantRate);
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
  state.counters["GFLOP/s"] = benchmark::Counter(flopsOfTwoProducts(n) * 1e-9,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_OpenCLLoad)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(2048)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_OpenBLAS)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(2048)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Keeps each run's time per iteration so the ratio can be printed from the same run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (!run.error_occurred)
        millis[run.run_name.function_name][std::stol(run.run_name.args)] =
            run.GetAdjustedRealTime();  // in the benchmark's unit (ms)
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::map<long, double>> millis;  // by n
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%6s  %14s  %14s  %18s\n", "n", "OpenCL ms", "OpenBLAS ms", "OpenCL / OpenBLAS");
  for (const auto& [n, opencl] : reporter.millis["BM_OpenCLLoad"]) {
    auto blas = reporter.millis["BM_OpenBLAS"].find(n);
    if (blas == reporter.millis["BM_OpenBLAS"].end()) continue;
    std::printf("%6ld  %14.2f  %14.2f  %18.2f\n", n, opencl, blas->second, opencl / blas->second);
  }
  benchmark::Shutdown();
  return 0;
}
