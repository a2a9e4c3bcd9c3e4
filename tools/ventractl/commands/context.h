#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "composition/composition.h"
#include "line/cli.h"
#include "line/command_definitions.h"
#include "smc/four_char_code.h"
#include "views/eligibility_rows.h"

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

// --gpu fake: one RX 580 8 GB that records its work and computes products up to 64 MiB.
std::shared_ptr<gpu::platform::GPUPlatform> fakeGpus();

// The desktop of the simulated tower (--profile with --gpu fake): the host model the app acts on,
// the defaults' built-in values, nobody at the desk.
std::shared_ptr<app::platform::Desktop> simulatedTowerDesktop();

// The backends a command works with, installed for the object's lifetime: the host's (see
// host.h), with the SMC swapped for the emulator when --profile names one, and with --gpu fake
// as well the whole simulated tower.
class SelectedHost {
 public:
  explicit SelectedHost(const Options& options);

 private:
  ScopedComposition installed_;
};

// The selected SMC with its connection open for the session's lifetime.
class SmcSession {
 public:
  explicit SmcSession(const Options& options);
  ~SmcSession();
  SmcSession(const SmcSession&) = delete;
  SmcSession& operator=(const SmcSession&) = delete;

 private:
  SelectedHost host_;
};

// The file `name` picks for `kind` ("profiles", "scenarios"): a path, or a bundled file by name
// (host/data_dirs.h); a CommandError saying where it looked when there is none.
std::filesystem::path dataFileNamed(const std::string& name, const std::string& kind);

void printJson(Context& context, nlohmann::ordered_json document);
void expectArguments(const Arguments& args, std::size_t count, const char* usage);
void requireConfirmation(const Context& context, const std::string& what);
FourCharCode keyArgument(const std::string& text);

// Fan numbers are one digit in the SMC's keys (F0Ac ... F9Ac).
inline constexpr long long kHighestFanNumber = 9;
// A CommandError naming the fans there are, where `fan` is not one of them.
void requireFan(std::int64_t fan);
// After a write to an emulated SMC: the profile file is not changed by it.
void noteEmulatedWrite(Context& context);

// Why fan 0 could not be read, in words with what to do: the driver not loaded, its directory
// not the driver's, a user without the privilege, or the SMC's own answer.
std::string whyFanZeroIsUnreadable(const SMCAccess::SMCError& error, const Options& options);

// Why the app's check found nothing where it did: no GPU, or fan 0 unreadable (check.cpp).
CauseOf eligibilityCauses(const Options& options, const app::Eligibility& found);

// A JSON document as text that is always valid UTF-8: bytes from outside that are not (a DMI
// name, a driver's device name) become U+FFFD.
std::string jsonText(const nlohmann::ordered_json& document, int indent = -1);

}  // namespace ventra::ctl
