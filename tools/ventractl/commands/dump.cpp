// ventractl dump [--output FILE]: the machine's SMC captured as a profile that --profile loads,
// answering every key as it answered here: its type, size and value, or its failure.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "files/output_file.h"
#include "line/options.h"
#include "smc/hex_bytes.h"
#include "smc/smc_access.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// A failed read is captured as the failure the emulator replays on reads alone (the key was
// listed and described): the SMC's result byte for a call that succeeded, else the platform's
// return code.
void captureFailure(json& entry, const SMCAccess::SMCError& error) {
  entry["failsOn"] = "read";
  using Kind = SMCAccess::SMCError::Kind;
  std::int32_t ioReturn = error.kind() == Kind::notPrivileged
                              ? smc::platform::kIOReturnNotPrivileged
                              : error.kIOReturn();
  if (error.kind() == Kind::keyNotFound) {
    entry["result"] = SMCResultCode::kSMCKeyNotFound;
  } else if (ioReturn == 0) {
    entry["result"] = error.smcResult();
  } else {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(ioReturn));
    entry["ioReturn"] = code;
  }
}

json captureKey(const SMCKey& key) {
  json entry{{"key", fourCharCodeToString(key.code)},
             {"type", fourCharCodeToString(key.info.type)}};
  SMCDataBytes bytes{};
  try {
    bytes = SMCAccess::readKey(key);
  } catch (const SMCAccess::SMCError& error) {
    bytes.fill(0);
    captureFailure(entry, error);
  }
  entry["bytes"] = hexFromBytes(bytes.data(), std::min<std::uint32_t>(key.info.size, 32));
  if (key.info.size == 0) entry["size"] = 0;
  return entry;
}

class Progress {
 public:
  explicit Progress(std::ostream& err) : err_(err), shown_(isatty(STDERR_FILENO) == 1) {}
  void show(std::size_t done, std::size_t total) {
    if (shown_ && (done % 16 == 0 || done == total))
      err_ << "\rreading keys: " << done << "/" << total << std::flush;
  }
  ~Progress() {
    if (shown_) err_ << "\n";
  }

 private:
  std::ostream& err_;
  bool shown_;
};

int runDump(Context& context, const Arguments& args) {
  expectArguments(args, 0, "dump [--output FILE]");
  SmcSession session(context.options);
  std::vector<SMCKey> keys = SMCAccess::listAllKeys();
  json captured = json::array();
  {
    Progress progress(context.err);
    for (const SMCKey& key : keys) {
      captured.push_back(captureKey(key));
      progress.show(captured.size(), keys.size());
    }
  }
  json profile{
      {"description", "captured by ventractl dump: " + std::to_string(keys.size()) + " keys"},
      {"keys", captured}};
  if (!context.options.output) {
    context.out << jsonText(profile, 1) << "\n";
    return 0;
  }
  // A file there is replaced whole, so a capture that cannot be written leaves the earlier one
  // as it was; a FIFO or a device is written through.
  if (auto problem = files::writeOutputFile(*context.options.output, jsonText(profile, 1) + "\n"))
    throw CommandError(*problem);
  context.err << "captured " << keys.size() << " keys in " << *context.options.output << "\n";
  return 0;
}

}  // namespace

CommandDefinition dumpCommand() {
  return {"dump", "capture every key as a profile that --profile loads (needs root)",
          {},     smcAnd({option::output}),
          {},     runDump};
}

}  // namespace ventra::ctl
