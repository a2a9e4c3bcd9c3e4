#pragma once

// Every option ventractl takes: the field its value lands in, and beside it, its one definition
// (spelling, value name, help, what a shell offers, the parse with its range). The command line,
// the help, the completions and the manual's checks are all made from these; a command takes
// one by naming it in its definition, with help of its own where it says more.

#include <optional>
#include <string>
#include <vector>

#include "composition/gpu_choice.h"
#include "line/command_definitions.h"
#include "line/values.h"

namespace ventra::ctl {

struct Options {
  std::optional<std::string> profile;
  std::optional<std::string> applesmcDirectory;
  std::optional<std::string> output;
  bool json = false;
  bool yes = false;
  bool force = false;
  bool forget = false;             // gpu tune --forget
  std::vector<std::string> tiles;  // gpu tune --tiles: the names given, in their order
  bool all = false;
  bool help = false;     // set by the parser, not an option's definition
  bool version = false;  // likewise
  bool allowCpu = false;
  bool realTime = false;
  std::string unit = "celsius";
  GpuChoice gpu = GpuChoice::automatic;  // --gpu; what automatic means is each command's own
  std::string desktop = "sim";
  double interval = 2.0;
  std::optional<long long> count;
  std::optional<long long> size;
  // reset
  std::optional<long long> riseRpm;
  std::optional<double> maxLoadSeconds, settleSeconds, waitSeconds;
};

// Where each kind of value goes, parsed and checked; `optionName` is the one to say in an error.
namespace store {

using Set = OptionDefinition::Set;

inline Set flag(bool Options::*field) {
  return [field](Options& o, const std::string&, const std::string&) { o.*field = true; };
}
template <typename Field>
Set text(Field Options::*field) {
  return [field](Options& o, const std::string& v, const std::string&) { o.*field = v; };
}
template <typename Field>
Set wholeIn(Field Options::*field, long long low, long long high) {
  return [=](Options& o, const std::string& v, const std::string& optionName) {
    o.*field = parseInteger(v, optionName, low, high);
  };
}
template <typename Field>
Set seconds(Field Options::*field) {
  return [field](Options& o, const std::string& v, const std::string& optionName) {
    o.*field = parseSeconds(v, optionName);
  };
}
// Words separated by commas, none of them empty.
Set words(std::vector<std::string> Options::*field);
// The names CLI11 lets through are the option's listed choices; "auto" is not among them.
void gpuStack(Options& o, const std::string& name, const std::string& optionName);
void temperatureUnit(Options& o, const std::string& letterOrName, const std::string&);
// --options-from is read before the line is parsed (parseCommandLine); here it only names itself.
inline void readFirst(Options&, const std::string&, const std::string&) {}

}  // namespace store

namespace option {

inline const OptionDefinition profile{
    .names = "--profile",
    .value = "FILE",
    .help =
        "use an emulated SMC loaded from a JSON profile: a file, or a bundled profile by name "
        "(ventractl profiles)",
    .completion = Completion::profile,
    .set = store::text(&Options::profile),
};
inline const OptionDefinition applesmc{
    .names = "--applesmc",
    .value = "DIR",
    .help = "the applesmc driver's sysfs directory (default /sys/devices/platform/applesmc.768)",
    .completion = Completion::directory,
    .set = store::text(&Options::applesmcDirectory),
};
inline const OptionDefinition output{
    .names = "-o,--output",
    .value = "FILE",
    .help = "write the profile to FILE instead of stdout",
    .completion = Completion::file,
    .set = store::text(&Options::output),
};
inline const OptionDefinition json{
    .names = "-j,--json",
    .help = "print JSON",
    .set = store::flag(&Options::json),
};
inline const OptionDefinition yes{
    .names = "--yes",
    .help = "confirm a change to the SMC",
    .set = store::flag(&Options::yes),
};
// Each command that takes it says what it lets through.
inline const OptionDefinition force{
    .names = "--force",
    .help = "do what is refused otherwise",
    .set = store::flag(&Options::force),
};
inline const OptionDefinition forget{
    .names = "--forget",
    .help = "forget the tile tuned for this device: the load goes back to its default tile",
    .set = store::flag(&Options::forget),
};
inline const OptionDefinition tiles{
    .names = "--tiles",
    .value = "LIST",
    .help = "try only these tiles, named as the tuner lists them and separated by commas",
    .set = store::words(&Options::tiles),
};
inline const OptionDefinition all{
    .names = "--all",
    .help =
        "also temperatures found by listing every SMC key, beyond those the driver shows (root)",
    .set = store::flag(&Options::all),
};
inline const OptionDefinition allowCpu{
    .names = "--allow-cpu",
    .help = "also use CPU devices (lavapipe for Vulkan, PoCL for OpenCL)",
    .set = store::flag(&Options::allowCpu),
};
inline const OptionDefinition realTime{
    .names = "--real-time",
    .help = "wait in real time instead of on a virtual clock",
    .set = store::flag(&Options::realTime),
};
inline const OptionDefinition unit{
    .names = "-u,--unit",
    .value = "UNIT",
    .help = "temperature unit: celsius (default), fahrenheit or kelvin; or C, F, K",
    .completion = Completion::choices,
    .choices = {"celsius", "fahrenheit", "kelvin", "C", "F", "K"},
    .set = store::temperatureUnit,
};
inline const OptionDefinition gpu{
    .names = "--gpu",
    .value = "BACKEND",
    .help =
        "GPU stack: vulkan or opencl (default: Vulkan where it has a device, else OpenCL), or "
        "fake: a simulated RX 580 8 GB",
    .completion = Completion::choices,
    .choices = {"vulkan", "opencl", "fake"},
    .set = store::gpuStack,
};
inline const OptionDefinition desktop{
    .names = "--desktop",
    .value = "DESKTOP",
    .help = "sim (default) or linux: the real Linux desktop (GLib, session bus, real time)",
    .completion = Completion::choices,
    .choices = {"sim", "linux"},
    .set = store::text(&Options::desktop),
};
inline const OptionDefinition interval{
    .names = "--interval",
    .value = "SECONDS",
    .help = "refresh period (default 2)",
    .set = store::seconds(&Options::interval),
};
inline const OptionDefinition count{
    .names = "--count",
    .value = "N",
    .help = "stop after N refreshes (default: until interrupted)",
    .set = store::wholeIn(&Options::count, 1, 1000000),
};
inline const OptionDefinition size{
    .names = "--size",
    .value = "N",
    .help = "matrix dimension (default: the app's own, 16384)",
    .set = store::wholeIn(&Options::size, 1, 32768),
};
inline const OptionDefinition rise{
    .names = "--rise",
    .value = "RPM",
    .help =
        "how far above its starting speed fan 0 must rise to have answered the load (default 300)",
    .set = store::wholeIn(&Options::riseRpm, 1, 16383),
};
inline const OptionDefinition maxLoad{
    .names = "--max-load",
    .value = "SECONDS",
    .help = "the longest load before giving up (default 300)",
    .set = store::seconds(&Options::maxLoadSeconds),
};
inline const OptionDefinition settle{
    .names = "--settle",
    .value = "SECONDS",
    .help = "how long fan 0 may take after the load to settle at 1000 rpm or below (default 120)",
    .set = store::seconds(&Options::settleSeconds),
};
inline const OptionDefinition wait{
    .names = "--wait",
    .value = "SECONDS",
    .help = "first wait up to SECONDS for the applesmc driver and a GPU render node (at boot)",
    .set = store::seconds(&Options::waitSeconds),
};
inline const OptionDefinition optionsFrom{
    .names = "--options-from",
    .value = "FILE",
    .help =
        "the options after this one come from FILE (the boot unit's options file): an error in "
        "them "
        "names it",
    .completion = Completion::file,
    .set = store::readFirst,
};

}  // namespace option

// Options that pick the SMC; before the command they apply to any command that talks to it.
inline const std::vector<const OptionDefinition*> kSmcOptions = {&option::profile,
                                                                 &option::applesmc};

// The SMC options followed by `more`: the options of a command that talks to the SMC.
std::vector<OptionUse> smcAnd(std::vector<OptionUse> more);

}  // namespace ventra::ctl
