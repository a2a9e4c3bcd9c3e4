#include "commands/session.h"

#include <iostream>
#include <ostream>

#include "app/controller.h"
#include "composition/emulated_smc.h"
#include "composition/fake_gpus.h"
#include "host/data_dirs.h"
#include "host/host.h"
#include "host/sudo_line.h"
#include "sensors/fans.h"
#include "sim/machine_under_load.h"
#include "smc/smc_access.h"
#include "smc/utf8.h"

namespace ventra::ctl {

namespace {

Composition composeFor(const Options& options) {
  if (options.profile && options.applesmcDirectory)
    throw UsageError("--profile and --applesmc name two different SMCs: give one");
  Composition composition = hostComposition(options);
  if (options.gpu == GpuChoice::fake) composition.gpu = recordingRx580();
  if (options.profile)
    composition.smc =
        emulatedSmc(smc::emulator::loadProfileFile(dataFileNamed(*options.profile, "profiles")))
            .composition.smc;
  if (options.profile && options.gpu == GpuChoice::fake) composition.desktop = sim::towerDesktop();
  return composition;
}

}  // namespace

// A bare name that is also a file here is that file, as always; where a bundled file has the same
// name (in /tmp the one here may be anyone's), it says which one it took.
std::filesystem::path dataFileNamed(const std::string& name, const std::string& kind) {
  std::string searched;
  auto found = namedData(name, kind, searched);
  if (found && *found == std::filesystem::path(name) && name.find('/') == std::string::npos) {
    std::string ignored;
    if (auto bundled = findData(std::filesystem::path(kind) / name, ignored))
      std::cerr << "ventractl: using ./" << utf8::escapeControls(name)
                << ", a file in the working directory, not the bundled one of that name ("
                << utf8::escapeControls(bundled->string()) << ")\n";
  }
  if (found) return *found;
  std::string singular = kind.substr(0, kind.size() - 1);
  throw CommandError("no " + singular + " \"" + name + "\": not a file here, nor a bundled " +
                     singular + " (looked in " + searched + "; ventractl " + kind + " lists them)");
}

// Where the count itself cannot be read, the command goes on and the SMC's own answer for the
// fan's key is what the user sees.
void requireFan(std::int64_t fan) {
  std::int64_t count = 0;
  try {
    count = SMCAccess::fanCount();
  } catch (const SMCAccess::SMCError&) {
    return;
  }
  if (fan >= 0 && fan < count) return;
  const std::string there = count == 0   ? "this machine has no fans"
                            : count == 1 ? "this machine has fan 0 only"
                                         : "this machine has fans 0–" + std::to_string(count - 1);
  throw CommandError("no fan " + std::to_string(fan) + " (" + there + ")");
}

void noteEmulatedWrite(Context& context) {
  if (context.options.profile)
    context.err << "ventractl: the SMC is emulated from " << *context.options.profile
                << ": the write lasted for this command only, and the profile file is unchanged\n";
}

std::string whyFanZeroIsUnreadable(const SMCAccess::SMCError& error, const Options& options) {
  using Kind = SMCAccess::SMCError::Kind;
  const bool emulated = options.profile.has_value();
  switch (error.kind()) {
    case Kind::driverNotFound:
      return emulated ? "the profile describes a host without an SMC" : noHostSmc(options);
    case Kind::failedToOpen:
      if (auto why = emulated ? std::nullopt : whyTheSmcRefused(options)) return *why;
      return "the SMC refused to open";
    case Kind::notPrivileged:
      if (emulated) return "the profile's SMC refuses this user (notPrivileged)";
      return "this user may not read fan 0 from the SMC: run it again as root: " +
             sudoLineForThisProcess();
    default:
      return std::string("the SMC answered: ") + error.what();
  }
}

SelectedHost::SelectedHost(const Options& options) : installed_(composeFor(options)) {}

SmcSession::SmcSession(const Options& options) : host_(options) {
  try {
    SMCAccess::openConnection();
  } catch (const SMCAccess::SMCError& error) {
    if (error.kind() == SMCAccess::SMCError::Kind::driverNotFound && !options.profile)
      throw CommandError(noHostSmc(options));
    if (error.kind() == SMCAccess::SMCError::Kind::failedToOpen && !options.profile)
      if (auto why = whyTheSmcRefused(options)) throw CommandError(*why);
    throw;
  }
}

SmcSession::~SmcSession() {
  SMCAccess::closeConnection();
}

}  // namespace ventra::ctl
