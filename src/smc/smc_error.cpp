#include "smc/smc_error.h"

#include "smc/param_struct.h"
#include "smc/platform/iokit.h"
#include "smc/utf8.h"

#include <cstdio>

namespace ventra::SMCAccess {
namespace {
namespace pf = smc::platform;

const char* ioReturnName(std::int32_t code) {
  switch (code) {
    case pf::kIOReturnSuccess:
      return "kIOReturnSuccess";
    case pf::kIOReturnError:
      return "kIOReturnError";
    case pf::kIOReturnNoMemory:
      return "kIOReturnNoMemory";
    case pf::kIOReturnNoDevice:
      return "kIOReturnNoDevice";
    case pf::kIOReturnNotPrivileged:
      return "kIOReturnNotPrivileged";
    case pf::kIOReturnBadArgument:
      return "kIOReturnBadArgument";
    case pf::kIOReturnUnsupported:
      return "kIOReturnUnsupported";
    case pf::kIOReturnIOError:
      return "kIOReturnIOError";
    case pf::kIOReturnNotOpen:
      return "kIOReturnNotOpen";
    case pf::kIOReturnBusy:
      return "kIOReturnBusy";
    case pf::kIOReturnTimeout:
      return "kIOReturnTimeout";
    default:
      return nullptr;
  }
}

const char* smcResultName(std::uint8_t result) {
  switch (result) {
    case SMCResultCode::kSMCSuccess:
      return "kSMCSuccess";
    case SMCResultCode::kSMCError:
      return "kSMCError";
    case SMCResultCode::kSMCBadCommand:
      return "kSMCBadCommand";
    case SMCResultCode::kSMCKeyNotFound:
      return "kSMCKeyNotFound";
    case SMCResultCode::kSMCKeyNotWritable:
      return "kSMCKeyNotWritable";
    case SMCResultCode::kSMCKeySizeMismatch:
      return "kSMCKeySizeMismatch";
    default:
      return nullptr;
  }
}

// "0xE00002C1 kIOReturnNotPrivileged"; the hex alone where the code has no known meaning.
std::string named(unsigned code, int digits, const char* name) {
  char text[64];
  std::snprintf(text, sizeof text, "0x%0*X%s%s", digits, code, name ? " " : "", name ? name : "");
  return text;
}

std::string describe(SMCError::Kind kind, const std::string& code, std::int32_t kIOReturn,
                     std::uint8_t smcResult) {
  switch (kind) {
    case SMCError::Kind::keyNotFound:
      return "SMC key not found: \"" + utf8::escapeControls(code) + "\"";
    case SMCError::Kind::unknown:
      return "SMC call failed (kIOReturn " +
             named(static_cast<unsigned>(kIOReturn), 8, ioReturnName(kIOReturn)) + ", SMC result " +
             named(smcResult, 2, smcResultName(smcResult)) + ")";
    case SMCError::Kind::driverNotFound:
      return "no AppleSMC service on this host";
    case SMCError::Kind::failedToOpen:
      return "the AppleSMC service refused to open";
    case SMCError::Kind::notPrivileged:
      return "this user may not make this SMC call (it needs root)";
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

}  // namespace ventra::SMCAccess
