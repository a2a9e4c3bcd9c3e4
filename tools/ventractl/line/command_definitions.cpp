#include "line/command_definitions.h"

#include <stdexcept>

#include "line/cli.h"

namespace ventra::ctl {
namespace {

using enum Completion;

using Set = OptionDefinition::Set;

// Where each kind of value goes, parsed and checked; `flag` names the option in an error.
Set raises(bool Options::*field) {
  return [field](Options& o, const std::string&, const std::string&) { o.*field = true; };
}
template <typename Field>
Set keeps(Field Options::*field) {
  return [field](Options& o, const std::string& v, const std::string&) { o.*field = v; };
}
template <typename Field>
Set wholeIn(Field Options::*field, long long low, long long high) {
  return [=](Options& o, const std::string& v, const std::string& flag) {
    o.*field = parseInteger(v, flag, low, high);
  };
}
template <typename Field>
Set seconds(Field Options::*field) {
  return [field](Options& o, const std::string& v, const std::string& flag) {
    o.*field = parseSeconds(v, flag);
  };
}

// The names CLI11 lets through are the option's listed choices; "auto" is not among them.
void gpuStack(Options& o, const std::string& name, const std::string& flag) {
  auto choice = parseGpuChoice(name);
  if (!choice || *choice == GpuChoice::automatic)
    throw UsageError(flag + " " + name + " names no GPU stack: fake, vulkan or opencl");
  o.gpu = *choice;
}

void celsiusFahrenheitOrKelvin(Options& o, const std::string& v, const std::string&) {
  o.unit = v == "C" ? "celsius" : v == "F" ? "fahrenheit" : v == "K" ? "kelvin" : v;
}

// --options-from is read before the line is parsed (parseCommandLine); here it only names itself.
void readFirst(Options&, const std::string&, const std::string&) {}

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
       {},
       keeps(&Options::profile)},
      {"applesmc",
       "--applesmc",
       "DIR",
       "the applesmc driver's sysfs directory (default /sys/devices/platform/applesmc.768)",
       directory,
       {},
       keeps(&Options::applesmcDirectory)},
      {"json", "-j,--json", "", "print JSON", none, {}, raises(&Options::json)},
      {"unit", "-u,--unit", "UNIT",
       "temperature unit: celsius (default), fahrenheit or kelvin; or C, F, K", choices, kUnits,
       celsiusFahrenheitOrKelvin},
      {"all",
       "--all",
       "",
       "also temperatures found by listing every SMC key, beyond those the driver shows (root)",
       none,
       {},
       raises(&Options::all)},
      {"yes", "--yes", "", "confirm a change to the SMC", none, {}, raises(&Options::yes)},
      {"writeForce",
       "--force",
       "",
       "a fan minimum or target outside 1..the fan's maximum",
       none,
       {},
       raises(&Options::force)},
      {"loadForce",
       "--force",
       "",
       "a load estimated to take more than a minute",
       none,
       {},
       raises(&Options::force)},
      {"resetForce",
       "--force",
       "",
       "try it on other hardware: skip the host, GPU-identity and fan-speed tests (fan 0 is "
       "still read)",
       none,
       {},
       raises(&Options::force)},
      {"rise",
       "--rise",
       "RPM",
       "how far above its starting speed fan 0 must rise to have answered the load (default "
       "300)",
       none,
       {},
       wholeIn(&Options::riseRpm, 1, 16383)},
      {"maxLoad",
       "--max-load",
       "SECONDS",
       "the longest load before giving up (default 300)",
       none,
       {},
       seconds(&Options::maxLoadSeconds)},
      {"settle",
       "--settle",
       "SECONDS",
       "how long fan 0 may take after the load to settle at 1000 rpm or below (default 120)",
       none,
       {},
       seconds(&Options::settleSeconds)},
      {"wait",
       "--wait",
       "SECONDS",
       "first wait up to SECONDS for the applesmc driver and a GPU render node (at boot)",
       none,
       {},
       seconds(&Options::waitSeconds)},
      {"optionsFrom",
       "--options-from",
       "FILE",
       "the options after this one come from FILE (the boot unit's options file): an error in "
       "them names it",
       Completion::file,
       {},
       readFirst},
      {"interval",
       "--interval",
       "SECONDS",
       "refresh period (default 2)",
       none,
       {},
       seconds(&Options::interval)},
      {"count",
       "--count",
       "N",
       "stop after N refreshes (default: until interrupted)",
       none,
       {},
       wholeIn(&Options::count, 1, 1000000)},
      {"size",
       "--size",
       "N",
       "matrix dimension (default: the app's own, 16384)",
       none,
       {},
       wholeIn(&Options::size, 1, 32768)},
      {"tuneSize",
       "--size",
       "N",
       "the matrix dimension each tile is timed at (default: one whose product takes about half "
       "a second)",
       none,
       {},
       wholeIn(&Options::size, 1, 32768)},
      {"forget",
       "--forget",
       "",
       "forget the tile tuned for this device: the load goes back to its default tile",
       none,
       {},
       raises(&Options::forget)},
      {"allowCpu",
       "--allow-cpu",
       "",
       "also use CPU devices (lavapipe for Vulkan, PoCL for OpenCL)",
       none,
       {},
       raises(&Options::allowCpu)},
      {"output",
       "-o,--output",
       "FILE",
       "write the profile to FILE instead of stdout",
       file,
       {},
       keeps(&Options::output)},
      {"gpu",
       "--gpu",
       "BACKEND",
       "GPU stack: vulkan or opencl (default: Vulkan where it has a device, else OpenCL), or "
       "fake: a simulated RX 580 8 GB",
       choices,
       {"fake", "vulkan", "opencl"},
       gpuStack},
      {"simGpu",
       "--gpu",
       "BACKEND",
       "the GPUs the app sees: fake, the scenario's own (default), or vulkan or opencl, this "
       "host's",
       choices,
       {"fake", "vulkan", "opencl"},
       gpuStack},
      {"realTime",
       "--real-time",
       "",
       "wait in real time instead of on a virtual clock",
       none,
       {},
       raises(&Options::realTime)},
      {"desktop",
       "--desktop",
       "DESKTOP",
       "sim (default) or linux: the real Linux desktop (GLib, session bus, real time)",
       choices,
       {"sim", "linux"},
       keeps(&Options::desktop)},
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
