#include "context.h"

#include <ostream>

#include "smc/platform/linux/applesmc.h"
#include "smc/smckit.h"

namespace ventra::ctl {

SelectedSmc::SelectedSmc(const Options& options)
    : driver_(options.applesmcDirectory ? std::filesystem::path(*options.applesmcDirectory)
                                        : smc::linux_backend::defaultDevicePath()) {
  if (options.profile && options.applesmcDirectory)
    throw UsageError("--profile and --applesmc name two different SMCs: give one");
  if (options.profile)
    emulator_.emplace(smc::emulator::loadProfileFile(*options.profile));
  else
    smc::linux_backend::registerHostService(driver_);
}

SmcSession::SmcSession(const Options& options) : smc_(options) {
  try {
    SMCKit::openConnection();
  } catch (const SMCKit::SMCError& error) {
    if (error.kind() == SMCKit::SMCError::Kind::driverNotFound && !options.profile)
      throw CommandError("no SMC service on this host: the applesmc driver is not loaded (" +
                         smc_.driver().string() +
                         " is missing). Use --profile FILE to work with an emulated SMC.");
    throw;
  }
}

SmcSession::~SmcSession() {
  SMCKit::closeConnection();
}

void printJson(Context& context, nlohmann::ordered_json document) {
  nlohmann::ordered_json output{{"schema", kSchemaVersion}};
  for (auto& [name, value] : document.items()) output[name] = std::move(value);
  context.out << output.dump(2) << "\n";
}

void expectArguments(const Arguments& args, std::size_t count, const char* usage) {
  if (args.size() != count) throw UsageError(std::string("usage: ventractl ") + usage);
}

void requireConfirmation(const Context& context, const std::string& what) {
  if (!context.options.yes)
    throw UsageError("refusing to " + what + " without --yes (it changes the SMC's state)");
}

FourCharCode keyArgument(const std::string& text) {
  auto code = fourCharCodeFromDisplayText(text);
  if (!code) throw UsageError("an SMC key is four characters, not \"" + text + "\"");
  return *code;
}

}  // namespace ventra::ctl
