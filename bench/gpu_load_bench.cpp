// The fan-reset workload on each Linux stack's default device (CPU devices allowed: lavapipe for
// Vulkan, PoCL for OpenCL here) against the same two products with OpenBLAS on the host, at
// n = 512, 1024, 2048. Prints Google Benchmark's table, then each stack's ratio to OpenBLAS per n.
#include <benchmark/benchmark.h>
#include <cblas.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>
#include <vector>

#include "composition/composition.h"
#include "composition/linux_host.h"
#include "gpu/gpu_load.h"

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
  // As the host composes it: on Vulkan, the tile `ventractl gpu tune` stored.
  auto platform = linuxGpuStack(stack, lg::BackendOptions::withCpuDevices(true));
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

// n = 512, 1024, 2048; VENTRA_BENCH_SIZES="4096,8192,16384" for a real GPU (bench/device_check.py).
std::vector<std::int64_t> benchSizes() {
  std::vector<std::int64_t> sizes;
  const char* listed = std::getenv("VENTRA_BENCH_SIZES");
  for (std::string_view rest = listed ? listed : ""; !rest.empty();) {
    const auto comma = rest.find(',');
    const auto item = rest.substr(0, comma);
    std::int64_t n = 0;
    auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), n);
    if (error != std::errc() || end != item.data() + item.size() || n < 1 || n > 32768) {
      std::fprintf(stderr, "VENTRA_BENCH_SIZES: %s is no size from 1 to 32768\n", listed);
      std::exit(2);
    }
    sizes.push_back(n);
    rest = comma == std::string_view::npos ? "" : rest.substr(comma + 1);
  }
  return sizes.empty() ? std::vector<std::int64_t>{512, 1024, 2048} : sizes;
}

void registerAt(const std::vector<std::int64_t>& sizes) {
  for (auto [name, function] :
       {std::pair{"BM_Vulkan", &BM_Vulkan}, std::pair{"BM_OpenCL", &BM_OpenCL},
        std::pair{"BM_OpenBLAS", &BM_OpenBLAS}})
    for (std::int64_t n : sizes)
      benchmark::RegisterBenchmark(name, function)
          ->Arg(n)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
}

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
  registerAt(benchSizes());
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
