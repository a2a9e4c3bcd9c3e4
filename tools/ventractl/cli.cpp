#include "cli.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <map>

namespace ventra::ctl {

const char* const kUsage = R"(usage: ventractl [options] COMMAND [ARGS]

SMC commands (the host's SMC, or an emulated one with --profile):
  keys                  every key with its type, size, bytes and decoded value
  read KEY              one key
  write KEY HEX         raw write of HEX to KEY (needs --yes)
  sensors               everything at once: fans, temperatures, battery, MSDI
  fans                  every fan: id, name, min, max and current speed (rpm)
  temps                 catalogue temperature sensors present; --all adds unknown keys
  battery               battery count and power flags
  msdi                  the MSDI flag
  set-fan-min FAN RPM   set a fan's minimum speed, 1..its maximum (needs --yes)
  watch                 refresh fans and temperatures every --interval seconds
  dump [-o FILE]        capture every key as a profile that --profile loads (needs root)

GPU commands:
  gpu                   the GPU devices, their identity text and working set
  gpu load              run the fan-reset workload on the default GPU and verify it

The app:
  check                 the app's eligibility check on this host, test by test
  simulate [SCENARIO]   run the app against a scenario (default: the bundled one)
  autostart enable|disable|status
                        start the app at login (~/.config/autostart/ventra.desktop)

Options:
  --profile FILE        use an emulated SMC loaded from FILE instead of the host's
  --applesmc DIR        the applesmc driver's sysfs directory
                        (default /sys/devices/platform/applesmc.768)
  --json                print one JSON document (simulate: one JSON object per line)
  --all                 temps: list unknown temperature keys too
  --unit U              temps/watch: celsius, fahrenheit or kelvin (default celsius)
  --yes                 confirm a write
  --force               write: a fan minimum or target outside 1..the fan's maximum;
                        gpu load: a load estimated to take more than a minute
  --interval SECONDS    watch: refresh period (default 2)
  --count N             watch: stop after N refreshes (default: until interrupted)
  --size N              gpu load: matrix dimension (default 16384)
  --allow-cpu           gpu, gpu load, check: also use OpenCL CPU devices (e.g. PoCL)
  --gpu fake|opencl     simulate: GPU backend (default fake)
  --real-time           simulate: wait for real instead of on a virtual clock
  --desktop sim|linux   simulate: the simulated desktop (default) or the real Linux one
                        (GLib main loop, notifications on the session bus, real time)
  --help, --version
)";

long long parseInteger(const std::string& text, const std::string& what, long long low,
                       long long high) {
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty())
    throw UsageError(what + " must be a whole number, not \"" + text + "\"");
  if (value < low || value > high)
    throw UsageError(what + " must be from " + std::to_string(low) + " to " + std::to_string(high));
  return value;
}

double parseSeconds(const std::string& text, const std::string& what) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
      !std::isfinite(value) || value <= 0 || value > 86400)
    throw UsageError(what + " must be a number of seconds above 0 and at most 86400");
  return value;
}

namespace {

using ValueSetter = void (*)(Options&, const std::string&);

const std::map<std::string, bool Options::*>& flags() {
  static const std::map<std::string, bool Options::*> table{
      {"--json", &Options::json},         {"--yes", &Options::yes},
      {"--force", &Options::force},       {"--all", &Options::all},
      {"--help", &Options::help},         {"-h", &Options::help},
      {"--version", &Options::version},   {"--allow-cpu", &Options::allowCpu},
      {"--real-time", &Options::realTime}};
  return table;
}

const std::map<std::string, ValueSetter>& valued() {
  static const std::map<std::string, ValueSetter> table{
      {"--profile", [](Options& o, const std::string& v) { o.profile = v; }},
      {"--applesmc", [](Options& o, const std::string& v) { o.applesmcDirectory = v; }},
      {"--output", [](Options& o, const std::string& v) { o.output = v; }},
      {"-o", [](Options& o, const std::string& v) { o.output = v; }},
      {"--unit",
       [](Options& o, const std::string& v) {
         if (v != "celsius" && v != "fahrenheit" && v != "kelvin")
           throw UsageError("--unit must be celsius, fahrenheit or kelvin");
         o.unit = v;
       }},
      {"--desktop",
       [](Options& o, const std::string& v) {
         if (v != "sim" && v != "linux") throw UsageError("--desktop must be sim or linux");
         o.desktop = v;
       }},
      {"--gpu",
       [](Options& o, const std::string& v) {
         if (v != "fake" && v != "opencl") throw UsageError("--gpu must be fake or opencl");
         o.gpuBackend = v;
       }},
      {"--interval",
       [](Options& o, const std::string& v) { o.interval = parseSeconds(v, "--interval"); }},
      {"--count",
       [](Options& o, const std::string& v) { o.count = parseInteger(v, "--count", 1, 1000000); }},
      {"--size",
       [](Options& o, const std::string& v) { o.size = parseInteger(v, "--size", 1, 32768); }},
  };
  return table;
}

}  // namespace

Invocation parseCommandLine(const std::vector<std::string>& arguments) {
  Invocation invocation;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string word = arguments[i];
    std::optional<std::string> inlineValue;
    if (!optionsEnded && word.rfind("--", 0) == 0 && word.find('=') != std::string::npos) {
      inlineValue = word.substr(word.find('=') + 1);
      word = word.substr(0, word.find('='));
    }
    bool negativeNumber =
        word.size() > 1 && word[0] == '-' && std::isdigit(static_cast<unsigned char>(word[1]));
    if (optionsEnded || word.empty() || word[0] != '-' || word == "-" || negativeNumber) {
      invocation.words.push_back(arguments[i]);
    } else if (word == "--") {
      optionsEnded = true;
    } else if (auto flag = flags().find(word); flag != flags().end() && !inlineValue) {
      invocation.options.*(flag->second) = true;
    } else if (auto setter = valued().find(word); setter != valued().end()) {
      if (!inlineValue && i + 1 >= arguments.size()) throw UsageError(word + " needs a value");
      setter->second(invocation.options, inlineValue ? *inlineValue : arguments[++i]);
    } else {
      throw UsageError("unknown option " + word);
    }
  }
  return invocation;
}

}  // namespace ventra::ctl
