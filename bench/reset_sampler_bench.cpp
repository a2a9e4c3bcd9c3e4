// Whether watching fan 0 slows the reset's load: the products at n = 1024 finished within the same
// 20 s window on Vulkan's default device (CPU devices allowed: lavapipe here), back to back with
// nothing else, against the reset itself (fan 0 read through an emulated SMC every second, each
// wait cut short for the sample, the card's temperature asked). In both the product still running
// when the window closes is not counted. Prints Google Benchmark's table, then the ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>

#include "composition/composition.h"
#include "gpu/gpu_workload.h"
#include "gpu/platform/linux/stacks.h"
#include "reset/reset.h"
#include "sim/machine_under_load.h"
#include "sim/sim_desktop.h"
#include "smc/platform/emulator/profile.h"

namespace {
using namespace ventra;
namespace lg = gpu::linux_gpu;

constexpr std::int64_t kSize = 1024;
constexpr double kSeconds = 20;

std::shared_ptr<gpu::platform::GPUPlatform> vulkan() {
  return lg::stackPlatform(lg::Stack::vulkan, lg::BackendOptions::withCpuDevices(true));
}

void BM_ProductsAlone(benchmark::State& state) {
  auto platform = vulkan();
  if (!platform->defaultDevice()) return state.SkipWithError("no Vulkan device");
  ScopedComposition installed(Composition::ofGpu(platform));
  GPULoadObserver none;
  GPUWorkload workload(kSize, none);
  workload.encode(1)->commit();  // builds the pipeline outside the timing
  double perSecond = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    std::int64_t products = 0;
    while (true) {
      auto product = workload.encode(1);
      product->commit();
      product->waitUntilCompleted();
      if (elapsed() > kSeconds) break;
      ++products;
    }
    perSecond = static_cast<double>(products) / kSeconds;
  }
  state.counters["products/s"] = perSecond;
}

// A tower whose fan never answers, so that the reset loads for all of --max-load.
smc::emulator::Profile neverAnswers() {
  return smc::emulator::parseProfileText(
      R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "1770"}],
          "fanUnderLoad": {"stuckRpm": 1500, "loadSecondsToRise": 86400, "peakRpm": 2086,
                           "fallRpmPerSecond": 40, "idleRpm": 950}})",
      "bench");
}

void BM_ResetLoad(benchmark::State& state) {
  auto platform = vulkan();
  if (!platform->defaultDevice()) return state.SkipWithError("no Vulkan device");
  auto machine = sim::machineUnderLoad(neverAnswers(), platform);
  sim::Scenario scenario;
  scenario.hostModel = "MacPro5,1";
  sim::Trace trace;
  machine.composition.desktop = sim::simulatedDesktop(scenario, trace);
  ScopedComposition installed(machine.composition);
  {
    GPULoadObserver none;
    GPUWorkload(kSize, none).encode(1)->commit();  // the pipeline, as above
  }
  reset::ResetOptions options;
  options.force = true;
  options.matrixSize = kSize;
  options.maxLoadSeconds = kSeconds;
  reset::ResetObserver quiet;
  std::atomic<int> interruption{0};
  double perSecond = 0;
  for (auto _ : state) {
    reset::SteadyClock clock;
    auto outcome = reset::runReset(options, clock, quiet, interruption);
    perSecond = static_cast<double>(outcome.products) / kSeconds;
  }
  state.counters["products/s"] = perSecond;
}

BENCHMARK(BM_ProductsAlone)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);
BENCHMARK(BM_ResetLoad)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);

// Keeps each run's rate so the ratio of the medians can be printed from the same run.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (run.aggregate_name == "median")
        medians[run.run_name.function_name] = run.counters.at("products/s").value;
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& m = reporter.medians;
  if (m.contains("BM_ProductsAlone") && m.contains("BM_ResetLoad"))
    std::printf(
        "\nproducts per second at n = %lld, medians of 3 windows of %.0f s: alone %.2f, "
        "while the reset samples fan 0 %.2f; ratio %.3f\n",
        static_cast<long long>(kSize), kSeconds, m["BM_ProductsAlone"], m["BM_ResetLoad"],
        m["BM_ResetLoad"] / m["BM_ProductsAlone"]);
  benchmark::Shutdown();
}
