#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <iomanip>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <stop_token>
#include <thread>

#include "app/controller.h"
#include "commands/commands.h"
#include "commands/session.h"
#include "composition/fake_gpus.h"
#include "gpu/gpu_identity.h"
#include "gpu/gpu_load.h"
#include "gpu/gpu_workload.h"
#include "gpu/platform/metal.h"
#include "host/host.h"
#include "line/options.h"
#include "views/value_format.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;
namespace pf = gpu::platform;
using Clock = std::chrono::steady_clock;
using Phase = GPULoadObserver::Phase;

constexpr std::int64_t kDefaultSize = app::kResetMatrixSize;  // the app's own workload

// The host's GPUs, installed for the command; an error where it has none.
class HostGpus {
 public:
  explicit HostGpus(const Options& options) : host_(options) {
    if (pf::MTLCopyAllDevices().empty()) throw CommandError(noHostGpus(options));
  }

 private:
  SelectedHost host_;
};

// On a terminal, the time spent so far in a long phase and the estimate, rewritten in place
// until the phase ends.
class Ticker {
 public:
  Ticker(std::ostream& out, std::string label, std::optional<double> estimate)
      : thread_([this, stream = &out, label = std::move(label), estimate](std::stop_token stop) {
          const auto started = Clock::now();
          std::unique_lock lock(mutex_);
          while (!wake_.wait_for(lock, stop, kTick, [&] { return stop.stop_requested(); })) {
            double seconds = std::chrono::duration<double>(Clock::now() - started).count();
            *stream << "\r" << std::left << std::setw(10) << label << std::fixed
                    << std::setprecision(1) << seconds << " s";
            if (estimate)
              *stream << " of about " << std::setprecision(*estimate < 10 ? 1 : 0) << *estimate
                      << " s";
            *stream << "\x1b[K" << std::flush;
          }
        }) {}
  // Stops, and leaves the line ready for the phase's final figure.
  ~Ticker() {
    thread_.request_stop();
    thread_.join();
  }

 private:
  static constexpr std::chrono::milliseconds kTick{250};
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::jthread thread_;
};

// Times the phases, shows progress, and checks C afterwards.
class LoadReport : public GPULoadObserver {
 public:
  LoadReport(Context& context, std::int64_t n, std::optional<double> estimate)
      : context_(context), n_(n), estimate_(estimate) {}

  void phaseStarted(Phase phase) override {
    started_ = Clock::now();
    if (context_.options.json) return;
    context_.out << std::left << std::setw(10) << phaseName(phase) << std::flush;
    if (phase == Phase::wait && context_.terminal)
      ticker_.emplace(context_.out, phaseName(phase), estimate_);
  }
  void phaseEnded(Phase phase) override {
    ticker_.reset();
    double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    seconds_.emplace_back(phaseName(phase), seconds);
    if (context_.options.json) return;
    if (phase == Phase::wait && context_.terminal)
      context_.out << "\r" << std::left << std::setw(10) << phaseName(phase) << "\x1b[K";
    context_.out << std::fixed << std::setprecision(3) << seconds << " s\n";
  }
  void gaveUp(const char* step) override {
    gaveUpAt_ = step;
    if (auto device = pf::MTLCreateSystemDefaultDevice()) {
      why_ = device->problem();
      memory_ = device->recommendedMaxWorkingSetSize();
    }
  }
  void completed(pf::CommandBuffer& commandBuffer, pf::Buffer&, pf::Buffer& result) override {
    completed_ = true;
    error_ = commandBuffer.error();
    if (!error_) verify(result);
  }

  int finish() {
    if (!completed_) throw CommandError(gaveUpText());
    if (error_) throw CommandError("the GPU work failed: " + *error_);
    if (mismatches_ > 0)
      if (auto device = pf::MTLCreateSystemDefaultDevice()) forgetTunedTile(*device, context_.err);
    double products = 0;
    for (const auto& [name, seconds] : seconds_)
      if (name == "commit" || name == "wait") products += seconds;
    double gflops = 4.0 * std::pow(static_cast<double>(n_), 3) / products / 1e9;
    json phases;
    for (const auto& [name, seconds] : seconds_) phases[name] = seconds;
    if (context_.options.json) {
      printJson(context_, {{"n", n_},
                           {"phases", phases},
                           {"productSeconds", products},
                           {"gflops", gflops},
                           {"verified", mismatches_ == 0},
                           {"mismatches", mismatches_}});
    } else {
      context_.out << "two products: " << std::setprecision(3) << products << " s, "
                   << std::setprecision(1) << gflops << " GFLOP/s\n"
                   << (mismatches_ == 0 ? "verified: every element of C is " + std::to_string(n_)
                                        : std::to_string(mismatches_) + " elements of C are wrong")
                   << "\n";
    }
    return mismatches_ == 0 ? 0 : 1;
  }

 private:
  // Reads C back in slices of at most about 64 MiB, so n = 16384 needs no second 1 GiB on the
  // host, and a small C no more than itself.
  void verify(pf::Buffer& result) {
    const auto n = static_cast<std::uint64_t>(n_);
    const std::uint64_t rowsPerSlice =
        std::clamp<std::uint64_t>((std::uint64_t{16} << 20) / n, 1, n);
    std::vector<float> slice(rowsPerSlice * n);
    const auto expected = static_cast<float>(n_);
    for (std::uint64_t row = 0; row < n; row += rowsPerSlice) {
      const std::uint64_t rows = std::min(rowsPerSlice, n - row);
      if (!result.readBytes(row * n * 4, slice.data(), rows * n * 4)) {
        error_ = "the result could not be read back";
        return;
      }
      mismatches_ +=
          std::count_if(slice.begin(), slice.begin() + static_cast<std::ptrdiff_t>(rows * n),
                        [&](float value) { return value != expected; });
    }
  }

  // The step that yielded nothing, and for memory how much was asked for.
  std::string gaveUpText() const {
    std::string text = std::string("the load gave up: no ") + gaveUpAt_;
    const std::string step = gaveUpAt_;
    if (step == "host array" || step == "buffer A" || step == "buffer C")
      text += " (" + std::to_string(static_cast<std::uint64_t>(n_) * n_ * 4) +
              " bytes asked for, more than " +
              (step == "host array" ? std::string("this host") : "the device") + " would give)";
    if (why_ && step != "host array") text += ": " + *why_;
    if ((step == "buffer A" || step == "buffer C") && memory_ > 0)
      text += "; the device has " + memoryText(memory_) + ", which holds the load up to --size " +
              std::to_string(largestLoadSize(memory_));
    return text;
  }

  Context& context_;
  std::int64_t n_;
  std::optional<double> estimate_;  // of the two products, from a short calibration
  std::optional<Ticker> ticker_;
  Clock::time_point started_;
  std::vector<std::pair<std::string, double>> seconds_;  // in the order the phases ran
  const char* gaveUpAt_ = "?";
  std::optional<std::string> why_;  // the stack's own words for it
  std::uint64_t memory_ = 0;        // the device's, where it tells
  bool completed_ = false;
  std::optional<std::string> error_;
  std::int64_t mismatches_ = 0;
};

json deviceJson(std::size_t index, const pf::Device& device, bool isDefault) {
  const std::string name = device.name();
  const std::uint64_t workingSet = device.recommendedMaxWorkingSetSize();
  const pf::DeviceDetails details = device.details();
  return {{"index", index},
          {"default", isDefault},
          {"name", name},
          {"identity", identityText(name, workingSet)},
          {"workingSetBytes", workingSet},
          {"stack", details.stack},
          {"pciAddress", details.pciAddress.empty() ? json() : json(details.pciAddress)},
          {"memorySource", details.memorySource},
          {"driver", details.driver.empty() ? json() : json(details.driver)},
          {"kernel", details.kernel}};
}

// The platforms `gpu` lists: the fake, the stack --gpu names, else every stack of the host.
std::vector<std::shared_ptr<pf::GPUPlatform>> listedPlatforms(const Options& options) {
  if (options.gpu == GpuChoice::fake) return {recordingRx580()};
  return listedGpuStacks(options);
}

int listDevices(Context& context, const Arguments& args) {
  expectArguments(args, 0, "gpu [load]");
  HostGpus gpus(context.options);
  auto chosen = pf::MTLCreateSystemDefaultDevice();  // the device the app would use
  json devices = json::array();
  for (const auto& platform : listedPlatforms(context.options)) {
    for (auto& facts : platform->devices()) {
      pf::Device device(platform, std::move(facts));
      bool isDefault = chosen && chosen->details().stack == device.details().stack &&
                       chosen->details().pciAddress == device.details().pciAddress &&
                       chosen->name() == device.name();
      devices.push_back(deviceJson(devices.size(), device, isDefault));
    }
  }
  if (context.options.json) {
    printJson(context, {{"devices", devices}});
    return 0;
  }
  for (const auto& d : devices) {
    context.out << d["index"] << (d["default"].get<bool>() ? " * " : "   ") << shown(d["identity"])
                << "\n      stack " << shown(d["stack"]) << ", PCI "
                << (d["pciAddress"].is_null() ? "unknown" : d["pciAddress"].get<std::string>())
                << "\n      memory " << memoryText(d["workingSetBytes"].get<std::uint64_t>())
                << ", from " << shown(d["memorySource"]) << "\n      products by "
                << shown(d["kernel"]) << "\n";
  }
  return 0;
}

// How long the products take at a small size, to judge a large one before starting it.
class ProductTimer final : public GPULoadObserver {
 public:
  void phaseStarted(Phase) override { started_ = Clock::now(); }
  void phaseEnded(Phase phase) override {
    if (phase == Phase::commit || phase == Phase::wait)
      seconds += std::chrono::duration<double>(Clock::now() - started_).count();
  }
  double seconds = 0;

 private:
  Clock::time_point started_;
};

constexpr std::int64_t kCalibrationSize = 512;
constexpr double kLongestUnaskedLoadSeconds = 60;

// The default size on a CPU device would run for hours. The product time grows as n³; it is
// measured at a small size (twice: the first run also compiles the kernels) and scaled. A load
// over a minute is refused unless forced. The estimate, where there is one.
std::optional<double> estimateAndRefuseLongLoads(Context& context, std::int64_t n) {
  if (n <= 2 * kCalibrationSize) return std::nullopt;
  ProductTimer timer;
  for (int run = 0; run < 2; ++run) {
    timer.seconds = 0;
    runGPULoad(kCalibrationSize, &timer);
  }
  double scale = std::pow(static_cast<double>(n) / static_cast<double>(kCalibrationSize), 3);
  double estimate = timer.seconds * scale;
  if (estimate <= kLongestUnaskedLoadSeconds || context.options.force) return estimate;
  std::ostringstream message;
  message << "the load at n = " << n << " would take about " << std::fixed << std::setprecision(0)
          << estimate << " s on " << gpuIdentity() << " (n = " << kCalibrationSize << " took "
          << std::setprecision(3) << timer.seconds
          << " s); --force runs it anyway, or choose a smaller --size";
  throw CommandError(message.str());
}

int runGpuLoad(Context& context, const Arguments& args) {
  expectArguments(args, 0, "gpu load [--size N]");
  std::int64_t n = context.options.size.value_or(kDefaultSize);
  HostGpus gpus(context.options);
  // A stack builds its kernels for a device at the first load; with a cold driver cache that
  // takes seconds, which should not read as a hang.
  if (!context.options.json)
    context.out << "device: " << gpuIdentity()
                << "\ncompiling the kernels for this device (the first load does)\n"
                << std::flush;
  auto estimate = estimateAndRefuseLongLoads(context, n);
  if (!context.options.json)
    context.out << "workload: two " << n << " x " << n << " float32 products C = A x A\n";
  LoadReport report(context, n, estimate);
  runGPULoad(n, &report);
  return report.finish();
}

}  // namespace

CommandDefinition gpuCommand() {
  return {
      "gpu",
      "the GPU devices: each one's name and memory as the app sees them",
      {},
      {{option::json,
        R"(print {"devices": [{index, default, name, identity, workingSetBytes, stack, pciAddress, memorySource, driver, kernel}]})"},
       option::allowCpu,
       option::gpu},
      {{"load",
        "run the fan-reset workload on the default GPU and verify it",
        {},
        {{option::json, R"(print {n, phases, productSeconds, gflops, verified, mismatches})"},
         option::allowCpu,
         option::gpu,
         option::size,
         {option::force, "a load estimated to take more than a minute"}},
        {},
        runGpuLoad},
       gpuTuneCommand()},
      listDevices};
}

}  // namespace ventra::ctl
