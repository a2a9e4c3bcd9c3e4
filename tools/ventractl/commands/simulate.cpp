#include <cstdio>
#include <filesystem>
#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "host/data_dirs.h"
#include "host/host.h"
#include "line/options.h"
#include "sim/scenario.h"
#include "sim/sim_desktop.h"

namespace ventra::ctl {
namespace {
namespace fs = std::filesystem;

fs::path defaultScenario() {
  std::string searched;
  if (auto found = findData("scenarios/default.json", searched)) return *found;
  throw CommandError("the bundled default scenario is not installed (looked in " + searched +
                     "); name a SCENARIO file");
}

void printEvent(Context& context, const sim::TraceEvent& event) {
  if (context.options.json) {
    nlohmann::ordered_json line{{"t", event.t}, {"event", event.event}};
    for (const auto& [name, value] : event.fields.items()) line[name] = value;
    context.out << line.dump() << "\n";
    return;
  }
  char time[32];
  std::snprintf(time, sizeof time, "%8.3f  ", event.t);
  context.out << time << event.event;
  for (const auto& [name, value] : event.fields.items())
    context.out << "  " << name << "=" << value.dump();
  context.out << "\n";
}

// The host's real GPUs in place of the scenario's fake ones.
std::shared_ptr<gpu::platform::GPUPlatform> hostGpus(const Options& options) {
  if (auto missing = hostUnavailable()) throw CommandError(*missing);
  return hostGpuPlatform(options);
}

int runSimulate(Context& context, const Arguments& args) {
  if (args.size() > 1) throw UsageError("usage: ventractl simulate [SCENARIO]");
  fs::path path = args.empty() ? defaultScenario() : dataFileNamed(args[0], "scenarios");
  sim::Scenario scenario;
  try {
    scenario = sim::loadScenarioFile(path);
  } catch (const sim::ScenarioError& error) {
    throw CommandError(std::string("bad scenario: ") + error.what());
  }
  // The scenario's own card unless a stack of this host is named.
  const bool hostGpu =
      context.options.gpu == GpuChoice::vulkan || context.options.gpu == GpuChoice::opencl;
  if (context.options.desktop == "linux") {
    sim::Trace trace;
    int status = runOnLinuxDesktop(scenario, trace, context.err,
                                   hostGpu ? hostGpus(context.options) : nullptr);
    for (const auto& event : trace.events()) printEvent(context, event);
    if (status != 0) context.err << "ventractl: the app ended with status " << status << "\n";
    return status;
  }
  sim::SimulationOptions options{.realTime = context.options.realTime, .gpu = nullptr};
  if (hostGpu) options.gpu = hostGpus(context.options);
  sim::Simulation simulation(std::move(scenario), std::move(options));
  int status = simulation.run();
  for (const auto& event : simulation.trace().events()) printEvent(context, event);
  if (status != 0) context.err << "ventractl: the app stopped without quitting\n";
  return status;
}

}  // namespace

CommandDefinition simulateCommand() {
  return {"simulate",
          "run the app against a scenario (default: the bundled one)",
          {{"SCENARIO",
            "a scenario file, or a bundled scenario by name (ventractl scenarios)",
            false,
            Completion::scenario,
            {},
            false}},
          {{option::json,
            R"(print one JSON object per trace event: {t, event, and the event's fields})"},
           {option::gpu,
            "the GPUs the app sees: fake, the scenario's own (default), or vulkan or opencl, this "
            "host's"},
           option::realTime,
           option::desktop,
           option::allowCpu},
          {},
          runSimulate};
}

}  // namespace ventra::ctl
