#pragma once

// The host a command works with and the session it opens on it: what the commands share above
// the host's backends (host/host.h).

#include <filesystem>
#include <memory>
#include <string>

#include "composition/composition.h"
#include "kit/context.h"
#include "line/cli.h"
#include "views/eligibility_rows.h"

namespace ventra::ctl {

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

}  // namespace ventra::ctl
