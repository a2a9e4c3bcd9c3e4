#include "line/command_definitions.h"

#include <stdexcept>

namespace ventra::ctl {
namespace {

using enum Completion;

const std::vector<std::string> kUnits = {"celsius", "fahrenheit", "kelvin", "C", "F", "K"};

}  // namespace

std::vector<std::string> smcAnd(std::vector<std::string> more) {
  more.insert(more.begin(), kSmcOptions.begin(), kSmcOptions.end());
  return more;
}

const std::vector<OptionDefinition>& optionDefinitions() {
  static const std::vector<OptionDefinition> definitions = {
      {"profile",
       "--profile",
       "FILE",
       "use an emulated SMC loaded from a JSON profile: a file, or a bundled profile by name "
       "(ventractl profiles)",
       Completion::profile,
       {}},
      {"applesmc",
       "--applesmc",
       "DIR",
       "the applesmc driver's sysfs directory (default /sys/devices/platform/applesmc.768)",
       directory,
       {}},
      {"json", "-j,--json", "", "print JSON", none, {}},
      {"unit", "-u,--unit", "UNIT",
       "temperature unit: celsius (default), fahrenheit or kelvin; or C, F, K", choices, kUnits},
      {"all",
       "--all",
       "",
       "also temperatures found by listing every SMC key, beyond those the driver shows (root)",
       none,
       {}},
      {"yes", "--yes", "", "confirm a change to the SMC", none, {}},
      {"writeForce",
       "--force",
       "",
       "a fan minimum or target outside 1..the fan's maximum",
       none,
       {}},
      {"loadForce", "--force", "", "a load estimated to take more than a minute", none, {}},
      {"resetForce",
       "--force",
       "",
       "try it on other hardware: skip the host, GPU-identity and fan-speed tests (fan 0 is "
       "still read)",
       none,
       {}},
      {"rise",
       "--rise",
       "RPM",
       "how far above its starting speed fan 0 must rise to have answered the load (default "
       "300)",
       none,
       {}},
      {"maxLoad",
       "--max-load",
       "SECONDS",
       "the longest load before giving up (default 300)",
       none,
       {}},
      {"settle",
       "--settle",
       "SECONDS",
       "how long fan 0 may take after the load to settle at 1000 rpm or below (default 120)",
       none,
       {}},
      {"wait",
       "--wait",
       "SECONDS",
       "first wait up to SECONDS for the applesmc driver and a GPU render node (at boot)",
       none,
       {}},
      {"optionsFrom",
       "--options-from",
       "FILE",
       "the options after this one come from FILE (the boot unit's options file): an error in "
       "them names it",
       Completion::file,
       {}},
      {"interval", "--interval", "SECONDS", "refresh period (default 2)", none, {}},
      {"count", "--count", "N", "stop after N refreshes (default: until interrupted)", none, {}},
      {"size", "--size", "N", "matrix dimension (default: the app's own, 16384)", none, {}},
      {"tuneSize",
       "--size",
       "N",
       "the matrix dimension each tile is timed at (default: one whose product takes about half "
       "a second)",
       none,
       {}},
      {"forget",
       "--forget",
       "",
       "forget the tile tuned for this device: the load goes back to its default tile",
       none,
       {}},
      {"allowCpu",
       "--allow-cpu",
       "",
       "also use CPU devices (lavapipe for Vulkan, PoCL for OpenCL)",
       none,
       {}},
      {"output", "-o,--output", "FILE", "write the profile to FILE instead of stdout", file, {}},
      {"gpu",
       "--gpu",
       "BACKEND",
       "GPU stack: vulkan or opencl (default: Vulkan where it has a device, else OpenCL), or "
       "fake: a simulated RX 580 8 GB",
       choices,
       {"fake", "vulkan", "opencl"}},
      {"simGpu",
       "--gpu",
       "BACKEND",
       "the GPUs the app sees: fake, the scenario's own (default), or vulkan or opencl, this "
       "host's",
       choices,
       {"fake", "vulkan", "opencl"}},
      {"realTime", "--real-time", "", "wait in real time instead of on a virtual clock", none, {}},
      {"desktop",
       "--desktop",
       "DESKTOP",
       "sim (default) or linux: the real Linux desktop (GLib, session bus, real time)",
       choices,
       {"sim", "linux"}},
  };
  return definitions;
}

const OptionDefinition& optionDefinition(const std::string& key) {
  for (const auto& definition : optionDefinitions())
    if (definition.key == key) return definition;
  throw std::logic_error("no option " + key);
}

OptionDefinition commandOption(const CommandDefinition& command, const std::string& key) {
  OptionDefinition option = optionDefinition(key);
  if (key == "json" && !command.jsonHelp.empty()) option.help = command.jsonHelp;
  return option;
}

std::string longName(const OptionDefinition& option) {
  auto at = option.names.rfind(',');
  return at == std::string::npos ? option.names : option.names.substr(at + 1);
}

// In the order the help lists them.

}  // namespace ventra::ctl
