#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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
  bool all = false;
  bool help = false;
  bool version = false;
  bool allowCpu = false;
  bool realTime = false;
  std::string unit = "celsius";
  std::string gpuBackend = "fake";
  std::string desktop = "sim";
  double interval = 2.0;
  std::optional<long long> count;
  std::optional<long long> size;
};

struct Invocation {
  Options options;
  std::vector<std::string> words;  // the subcommand and its arguments
};

Invocation parseCommandLine(const std::vector<std::string>& arguments);

// Whole-text decimal parse; `what` names the argument in the error.
long long parseInteger(const std::string& text, const std::string& what, long long low,
                       long long high);
double parseSeconds(const std::string& text, const std::string& what);

extern const char* const kUsage;

}  // namespace ventra::ctl
