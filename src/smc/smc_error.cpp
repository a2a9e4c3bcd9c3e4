#include "smc/smc_error.h"

#include <cstdio>

namespace ventra::SMCKit {
namespace {

std::string describe(SMCError::Kind kind, const std::string& code, std::int32_t kIOReturn,
                     std::uint8_t smcResult) {
  switch (kind) {
    case SMCError::Kind::keyNotFound:
      return "SMC key not found: \"" + code + "\"";
    case SMCError::Kind::unknown: {
      char text[96];
      std::snprintf(text, sizeof text, "SMC call failed (kIOReturn 0x%08X, SMC result 0x%02X)",
                    static_cast<unsigned>(kIOReturn), smcResult);
      return text;
    }
    case SMCError::Kind::driverNotFound:
      return "no AppleSMC service on this host";
    case SMCError::Kind::failedToOpen:
      return "the AppleSMC service refused to open";
    case SMCError::Kind::notPrivileged:
      return "not privileged to make this SMC call";
    case SMCError::Kind::unsafeFanSpeed:
      return "unsafe fan speed: outside 1 to the fan's maximum";
  }
  return "SMC error";
}

}  // namespace

SMCError::SMCError(Kind kind, std::string code, std::int32_t kIOReturn, std::uint8_t smcResult)
    : kind_(kind),
      code_(std::move(code)),
      kIOReturn_(kIOReturn),
      smcResult_(smcResult),
      message_(describe(kind_, code_, kIOReturn_, smcResult_)) {}

const char* kindName(SMCError::Kind kind) {
  switch (kind) {
    case SMCError::Kind::keyNotFound:
      return "keyNotFound";
    case SMCError::Kind::unknown:
      return "unknown";
    case SMCError::Kind::driverNotFound:
      return "driverNotFound";
    case SMCError::Kind::failedToOpen:
      return "failedToOpen";
    case SMCError::Kind::notPrivileged:
      return "notPrivileged";
    case SMCError::Kind::unsafeFanSpeed:
      return "unsafeFanSpeed";
  }
  return "unknown";
}

}  // namespace ventra::SMCKit
