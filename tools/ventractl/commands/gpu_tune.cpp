// ventractl gpu tune: our product shader's tile, tuned on the device itself. Each tile the tuner
// knows runs a product of the same size (about half a second with the device's present tile),
// is checked in every element, and timed; the fastest is stored for this device and driver in
// the user's cache directory, where the load then finds it, unless the tile stored before is
// within the measurement's noise of it (then that one is kept). --forget drops the stored tile.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "composition/linux_host.h"
#include "gpu/gpu_workload.h"
#include "gpu/platform/metal.h"
#include "gpu/platform/tile/tile_store.h"
#include "host/host.h"
#include "views/value_format.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;
namespace lg = gpu::linux_gpu;
namespace pf = gpu::platform;
namespace tile = gpu::tile;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kFirstSize = 256;
constexpr std::int64_t kLargestSize = 8192;  // two matrices of 256 MiB
constexpr double kProductSeconds = 0.5;      // long enough to time, short enough to try many
constexpr int kTimedRuns = 3;
// Two runs of the same tile differ by a few percent; a stored tile gives way to a new one only
// when the new one is faster by more than this, so that tuning twice does not swap tiles by luck.
constexpr double kNoise = 0.05;

struct Trial {
  tile::KernelTile tile;
  std::optional<double> gflops;  // nothing where it did not run or was wrong
  std::string problem;
};

// The host's Vulkan stack as every command has it, or with the shader's tile given.
std::shared_ptr<pf::GPUPlatform> vulkanWith(const Options& options,
                                            std::optional<tile::KernelTile> given) {
  LinuxHostOptions host;
  host.gpus.stack = lg::Stack::vulkan;
  host.gpus.backend = lg::BackendOptions::withCpuDevices(options.allowCpu);
  host.gpus.backend.tile = given;
  host.programName = "ventractl";
  return linuxGpuPlatform(std::move(host));
}

// One product at n on the installed GPU, after one that builds the shader: its seconds, and
// whether every element of C is n (A is all ones); nothing where the work failed.
std::optional<std::pair<double, bool>> timedProduct(std::int64_t n, std::string& problem) {
  GPULoadObserver quiet;
  GPUWorkload workload(n, quiet);
  if (!workload.ready()) {
    problem = "the device would not hold the matrices";
    return std::nullopt;
  }
  // The first builds the shader; the fastest of the others is the tile's time, since whatever
  // else the machine does only ever slows a run down.
  double seconds = 0;
  for (int run = 0; run < 1 + kTimedRuns; ++run) {
    const auto started = Clock::now();
    auto product = workload.encode(1);
    product->commit();
    product->waitUntilCompleted();
    if (product->error()) {
      problem = *product->error();
      return std::nullopt;
    }
    const double took = std::chrono::duration<double>(Clock::now() - started).count();
    if (run == 1 || (run > 1 && took < seconds)) seconds = took;
  }
  const auto size = static_cast<std::uint64_t>(n);
  std::vector<float> row(size);
  bool right = true;
  for (std::uint64_t r = 0; r < size && right; ++r) {
    if (!workload.result().readBytes(r * size * 4, row.data(), size * 4)) {
      problem = "C could not be read back";
      return std::nullopt;
    }
    for (float x : row) right = right && x == static_cast<float>(n);
  }
  return std::pair{seconds, right};
}

// The size whose product takes about kProductSeconds with the device's present tile.
std::int64_t calibratedSize(const Options& options) {
  if (options.size) return *options.size;
  ScopedComposition installed(Composition::ofGpu(vulkanWith(options, std::nullopt)));
  std::string ignored;
  std::int64_t n = kFirstSize;
  while (n < kLargestSize) {
    auto timed = timedProduct(n, ignored);
    if (!timed || timed->first >= kProductSeconds / 8) break;
    n *= 2;
  }
  return n;
}

Trial tryTile(const Options& options, const tile::KernelTile& tile, std::int64_t n) {
  Trial trial{tile, std::nullopt, ""};
  auto platform = vulkanWith(options, tile);
  auto facts = platform->defaultDevice();
  if (!facts || facts->details.kernelSource != pf::KernelSource::given) {
    trial.problem =
        facts ? "the device did not take the tile: " + facts->details.kernel : "no device";
    return trial;
  }
  ScopedComposition installed(Composition::ofGpu(platform));
  auto timed = timedProduct(n, trial.problem);
  if (timed && !timed->second) trial.problem = "wrong in some element of C";
  if (timed && timed->second) trial.gflops = 2 * std::pow(double(n), 3) / timed->first / 1e9;
  return trial;
}

// "  [3/12] 8x1x8x8-direct     41.2 GFLOP/s   about 20 s left"
void show(Context& context, const Trial& trial, std::size_t done, std::size_t count,
          double secondsSoFar) {
  if (context.options.json) return;
  context.out << "  [" << done << "/" << count << "] " << std::left << std::setw(18)
              << trial.tile.text();
  if (trial.gflops)
    context.out << std::right << std::fixed << std::setprecision(1) << std::setw(8) << *trial.gflops
                << " GFLOP/s";
  else
    context.out << "not used: " << shown(json(trial.problem));
  if (done < count)
    context.out << "   about " << std::lround(secondsSoFar / double(done) * double(count - done))
                << " s left";
  context.out << "\n" << std::flush;
}

json trialJson(const Trial& t) {
  return {{"tile", t.tile.text()},
          {"operationsPerByte", t.tile.operationsPerByte()},
          {"gflops", t.gflops ? json(*t.gflops) : json(nullptr)},
          {"problem", t.gflops ? json(nullptr) : json(t.problem)}};
}

const Trial* fastest(const std::vector<Trial>& trials) {
  const Trial* best = nullptr;
  for (const auto& trial : trials)
    if (trial.gflops && (!best || *trial.gflops > *best->gflops)) best = &trial;
  return best;
}

// This run's trial of the tile stored before, where it ran right.
const Trial* trialOf(const std::optional<tile::StoredTile>& stored,
                     const std::vector<Trial>& trials) {
  if (!stored) return nullptr;
  for (const auto& trial : trials)
    if (trial.gflops && trial.tile.text() == stored->tile.text()) return &trial;
  return nullptr;
}

void say(Context& context, const Trial& best, const Trial* kept, const tile::TileStore& store) {
  context.out << std::fixed << std::setprecision(1) << "fastest: " << best.tile.text() << " at "
              << *best.gflops << " GFLOP/s";
  if (kept && kept != &best)
    context.out << "; kept " << kept->tile.text() << ", tuned before (" << *kept->gflops
                << " GFLOP/s now): the fastest is not faster by more than "
                << std::lround(kNoise * 100) << " %, the measurement's noise";
  else
    context.out << "; stored in " << shown(json(store.file().string()))
                << ", where the load finds it";
  context.out << "\n'ventractl gpu tune --forget' goes back to the default tile\n";
}

// sudo -E keeps the user's cache directory: root would leave its own files in the user's home.
std::string underSudo() {
  const char* user = std::getenv("SUDO_USER");
  if (::geteuid() != 0 || !user || !*user) return "";
  return std::string("; run 'ventractl gpu tune' as ") + user +
         " without sudo: the device needs no root, and the tile is kept for the user who runs the "
         "load";
}

// A size whose matrices the device cannot hold would only fail each tile in turn.
void refuseBeyondTheDevice(const pf::DeviceFacts& device, std::int64_t n) {
  const std::uint64_t memory = device.workingSetBytes;
  if (memory == 0 || n <= largestLoadSize(memory)) return;
  const auto matrix = static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n) * 4;
  throw UsageError("--size " + std::to_string(n) + " needs " + memoryText(2 * matrix) +
                   " of device memory for A and C; " + shown(json(device.name)) + " has " +
                   memoryText(memory) + ", which holds the load up to --size " +
                   std::to_string(largestLoadSize(memory)));
}

// The fastest tile that ran right, stored for the device and driver, unless the one stored before
// is within the noise of it.
int storeTheBest(Context& context, const pf::DeviceFacts& device, const std::vector<Trial>& trials,
                 std::int64_t n) {
  const Trial* best = fastest(trials);
  if (!best) throw CommandError("no tile ran right on this device: nothing is stored");
  tile::TileStore store(hostTileStore(), ::geteuid());
  const auto before = store.find(device.name, device.details.driver);
  const Trial* kept = trialOf(before, trials);
  if (!kept || *best->gflops > *kept->gflops * (1 + kNoise)) {
    kept = nullptr;
    store.put({device.name, device.details.driver, best->tile, *best->gflops});
    if (auto problem = store.save()) throw CommandError(*problem + underSudo());
  }
  if (!store.setAside().empty())
    context.err << "ventractl: " << *store.problem() << ": kept as " << store.setAside().string()
                << ", and a new store written\n";
  if (context.options.json) {
    json all = json::array();
    for (const auto& trial : trials) all.push_back(trialJson(trial));
    printJson(context, {{"device", device.name},
                        {"driver", device.details.driver},
                        {"n", n},
                        {"trials", all},
                        {"best", best->tile.text()},
                        {"kept", kept ? kept->tile.text() : best->tile.text()},
                        {"before", before ? json(before->tile.text()) : json(nullptr)},
                        {"stored", store.file().string()},
                        {"setAside", store.setAside().empty() ? json(nullptr)
                                                              : json(store.setAside().string())}});
    return 0;
  }
  say(context, *best, kept, store);
  return 0;
}

// --forget: the device's stored tile dropped; the load uses its default tile again.
int forgetTheTile(Context& context, const pf::DeviceFacts& device) {
  const auto file = hostTileStore();
  const auto forgetting =
      tile::forgetStoredTile(file, ::geteuid(), device.name, device.details.driver);
  if (forgetting.problem) throw CommandError(*forgetting.problem);
  const auto& stored = forgetting.forgotten;
  if (context.options.json) {
    printJson(context, {{"device", device.name},
                        {"driver", device.details.driver},
                        {"forgotten", stored ? json(stored->tile.text()) : json(nullptr)},
                        {"stored", file.string()}});
    return 0;
  }
  if (stored)
    context.out << "forgot " << stored->tile.text() << ", tuned for " << shown(json(device.name))
                << " (" << shown(json(device.details.driver))
                << "): the load uses its default tile again\n";
  else
    context.out << "no tile was tuned for " << shown(json(device.name)) << " ("
                << shown(json(device.details.driver)) << "): nothing to forget\n";
  return 0;
}

// Every tile the tuner knows, or those --tiles names, in its order.
std::vector<tile::KernelTile> tilesToTry(const Options& options) {
  const auto every = tile::tuningCandidates();
  if (options.tiles.empty()) return every;
  std::vector<tile::KernelTile> chosen;
  for (const auto& name : options.tiles) {
    auto named = [&](const tile::KernelTile& tile) { return tile.text() == name; };
    auto found = std::find_if(every.begin(), every.end(), named);
    if (found == every.end()) {
      std::string names;
      for (const auto& tile : every) names += (names.empty() ? "" : ", ") + tile.text();
      throw UsageError("--tiles: " + name + " is not a tile gpu tune tries; it tries " + names);
    }
    if (std::none_of(chosen.begin(), chosen.end(), named)) chosen.push_back(*found);
  }
  return chosen;
}

}  // namespace

int runGpuTune(Context& context, const Arguments& args) {
  expectArguments(args, 0, "gpu tune [--size N]");
  if (context.options.gpu != GpuChoice::automatic && context.options.gpu != GpuChoice::vulkan)
    throw UsageError("gpu tune tunes the Vulkan stack's shader: leave --gpu out, or say vulkan");
  auto device = vulkanWith(context.options, std::nullopt)->defaultDevice();
  if (!device) throw CommandError("no Vulkan device to tune: " + noHostGpus(context.options));
  if (context.options.forget) return forgetTheTile(context, *device);
  // What would stop the result being kept, or the load running at all, is said before the work.
  if (auto why = tile::TileStore(hostTileStore(), ::geteuid()).whyNotSaved())
    throw CommandError(*why + underSudo());
  if (context.options.size) refuseBeyondTheDevice(*device, *context.options.size);
  const auto candidates = tilesToTry(context.options);
  const bool text = !context.options.json;
  if (text && !context.options.size)
    context.out << "finding a product size that takes about " << kProductSeconds << " s on "
                << shown(json(device->name)) << "..." << std::endl;
  const std::int64_t n = calibratedSize(context.options);
  if (text)
    context.out << "tuning our shader on " << shown(json(device->name)) << " ("
                << shown(json(device->details.driver)) << "): " << candidates.size()
                << " tiles, each with products of " << n << " x " << n << std::endl;
  std::vector<Trial> trials;
  const auto started = Clock::now();
  for (const auto& tile : candidates) {
    trials.push_back(tryTile(context.options, tile, n));
    show(context, trials.back(), trials.size(), candidates.size(),
         std::chrono::duration<double>(Clock::now() - started).count());
  }
  return storeTheBest(context, *device, trials, n);
}

}  // namespace ventra::ctl
