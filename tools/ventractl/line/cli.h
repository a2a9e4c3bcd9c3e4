#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "composition/gpu_choice.h"

namespace ventra::ctl {

// A command line that cannot be run as written; reported with the usage hint, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  std::optional<std::string> profile;
  std::optional<std::string> applesmcDirectory;
  std::optional<std::string> output;
  bool json = false;
  bool yes = false;
  bool force = false;
  bool forget = false;  // gpu tune --forget
  bool all = false;
  bool help = false;
  bool version = false;
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

struct CommandDefinition;

struct Invocation {
  Options options;
  const CommandDefinition* command = nullptr;  // "load" for "gpu load"; none for a bare line
  std::vector<std::string> arguments;          // the command's positional arguments
  std::string helpText;                        // what --help asked for: the command's own help
};

Invocation parseCommandLine(const std::vector<std::string>& arguments);

// Printed by a bare `ventractl`.
std::string shortSummary();

// Whole-text decimal parse; `what` names the argument in the error.
long long parseInteger(const std::string& text, const std::string& what, long long low,
                       long long high);
double parseSeconds(const std::string& text, const std::string& what);

// The exit statuses, for the help text and the manual.
inline constexpr char kExitStatuses[] = R"(Exit status:
  0  success
  1  a failure: the SMC, the GPU, a file or the output could not do what was asked
  2  a usage error: the command line cannot be run as written
  3  check, reset: the host is one the app would not act on
  4  check: the tower the app acts on, and fan 0 turns normally (nothing to reset)
  130  watch, reset: interrupted (Ctrl-C)
  143  reset: terminated (SIGTERM)

ventractl COMMAND --help shows a command's own options.)";

}  // namespace ventra::ctl
