#include "command_definitions.h"

#include <stdexcept>

namespace ventra::ctl {
namespace {

using enum Completion;

const std::vector<std::string> kUnits = {"celsius", "fahrenheit", "kelvin"};

std::vector<std::string> smcAnd(std::vector<std::string> more) {
  more.insert(more.begin(), kSmcOptions.begin(), kSmcOptions.end());
  return more;
}

}  // namespace

const std::vector<OptionDefinition>& optionDefinitions() {
  static const std::vector<OptionDefinition> definitions = {
      {"profile",
       "--profile",
       "FILE",
       "use an emulated SMC loaded from a JSON profile",
       jsonFile,
       {}},
      {"applesmc",
       "--applesmc",
       "DIR",
       "the applesmc driver's sysfs directory (default /sys/devices/platform/applesmc.768)",
       directory,
       {}},
      {"json", "-j,--json", "", "print JSON (simulate: one object per line)", none, {}},
      {"unit", "-u,--unit", "UNIT", "temperature unit: celsius (default), fahrenheit or kelvin",
       choices, kUnits},
      {"all", "--all", "", "unknown temperature keys too", none, {}},
      {"yes", "--yes", "", "confirm a change to the SMC", none, {}},
      {"writeForce",
       "--force",
       "",
       "a fan minimum or target outside 1..the fan's maximum",
       none,
       {}},
      {"loadForce", "--force", "", "a load estimated to take more than a minute", none, {}},
      {"interval", "--interval", "SECONDS", "refresh period (default 2)", none, {}},
      {"count", "--count", "N", "stop after N refreshes (default: until interrupted)", none, {}},
      {"size", "--size", "N", "matrix dimension (default: the app's own, 16384)", none, {}},
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
       "GPU stack: vulkan, opencl or fake (simulate: fake by default; gpu and check: Vulkan "
       "where it has a device, else OpenCL)",
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

std::string longName(const OptionDefinition& option) {
  auto at = option.names.rfind(',');
  return at == std::string::npos ? option.names : option.names.substr(at + 1);
}

const std::vector<CommandDefinition>& commandDefinitions() {
  static const std::vector<CommandDefinition> definitions = {
      {"keys", "every key with its type, size, bytes and decoded value", {}, smcAnd({"json"}), {}},
      {"read",
       "one key",
       {{"KEY", "the key, four characters", true, none, {}}},
       smcAnd({"json"}),
       {}},
      {"write",
       "raw write of HEX to KEY (needs --yes)",
       {{"KEY", "the key", true, none, {}}, {"HEX", "the bytes, in hex", true, none, {}}},
       smcAnd({"json", "yes", "writeForce"}),
       {}},
      {"sensors",
       "everything at once: fans, temperatures, battery, MSDI",
       {},
       smcAnd({"json", "unit"}),
       {}},
      {"fans", "every fan: id, name, min, max and current speed (rpm)", {}, smcAnd({"json"}), {}},
      {"temps",
       "temperature sensors present; --all adds unknown keys",
       {},
       smcAnd({"json", "unit", "all"}),
       {}},
      {"battery", "battery count and power flags", {}, smcAnd({"json"}), {}},
      {"msdi", "the MSDI flag", {}, smcAnd({"json"}), {}},
      {"set-fan-min",
       "set a fan's minimum speed, 1..its maximum (needs --yes)",
       {{"FAN", "the fan's number", true, none, {}}, {"RPM", "the new minimum", true, none, {}}},
       smcAnd({"json", "yes"}),
       {}},
      {"watch",
       "fans and temperatures, sampled every --interval seconds",
       {},
       smcAnd({"json", "unit", "all", "interval", "count"}),
       {}},
      {"dump",
       "capture every key as a profile that --profile loads (needs root)",
       {},
       smcAnd({"output"}),
       {}},
      {"gpu",
       "the GPU devices, their identity text and working set",
       {},
       {"json", "allowCpu", "gpu"},
       {{"load",
         "run the fan-reset workload on the default GPU and verify it",
         {},
         {"json", "allowCpu", "gpu", "size", "loadForce"},
         {}}}},
      {"check",
       "the app's eligibility check on this host, test by test",
       {},
       smcAnd({"json", "allowCpu", "gpu"}),
       {}},
      {"simulate",
       "run the app against a scenario (default: the bundled one)",
       {{"SCENARIO", "a scenario file", false, jsonFile, {}}},
       {"json", "gpu", "realTime", "desktop", "allowCpu"},
       {}},
      {"autostart",
       "start the app at login (~/.config/autostart/ventra.desktop)",
       {{"ACTION", "enable, disable or status", true, choices, {"enable", "disable", "status"}}},
       {"json"},
       {}},
      {"completion",
       "print the completion script for bash, zsh or fish",
       {{"SHELL", "bash, zsh or fish", true, choices, {"bash", "zsh", "fish"}}},
       {},
       {}},
  };
  return definitions;
}

}  // namespace ventra::ctl
