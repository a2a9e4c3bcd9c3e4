#pragma once

// What every command and view shares, below them and above the command line: the context a
// command runs in, its errors and exit statuses, and its JSON.

#include <iosfwd>
#include <string>

#include <nlohmann/json.hpp>

#include "line/cli.h"
#include "line/command_definitions.h"
#include "smc/four_char_code.h"

namespace ventra::ctl {

inline constexpr int kSchemaVersion = 1;
// `check`'s exit status for a host the app would not act on (1 is a failure, 2 a usage error).
inline constexpr int kNotEligible = 3;
// check: the tower the app acts on, with fan 0 at or below the limit.
inline constexpr int kNothingToReset = 4;
inline constexpr int kUsageError = 2;

struct Context {
  const Options& options;
  std::ostream& out;
  std::ostream& err;
  bool terminal = false;  // `out` is a terminal: views may redraw in place
};

// A failure the user caused or can fix; printed as "ventractl: MESSAGE", exit status 1.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void printJson(Context& context, nlohmann::ordered_json document);
void expectArguments(const Arguments& args, std::size_t count, const char* usage);
void requireConfirmation(const Context& context, const std::string& what);
FourCharCode keyArgument(const std::string& text);

// A JSON document as text that is always valid UTF-8: bytes from outside that are not (a DMI
// name, a driver's device name) become U+FFFD.
std::string jsonText(const nlohmann::ordered_json& document, int indent = -1);

}  // namespace ventra::ctl
