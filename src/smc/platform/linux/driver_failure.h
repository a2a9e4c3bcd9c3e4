#pragma once

// How a request to the applesmc backend ends when it yields no value: either the call itself
// fails with a platform return code, or it succeeds and the answer carries an SMC result byte.
// Thrown inside the backend and turned into the 80-byte answer in one place.

#include <cstdint>

#include "smc/param_struct.h"
#include "smc/platform/iokit.h"

namespace ventra::smc::linux_backend {

struct DriverFailure {
  platform::kern_return_t rc = platform::kIOReturnSuccess;
  std::uint8_t result = 0;
};

inline DriverFailure callFailed(platform::kern_return_t rc) {
  return {rc, 0};
}
inline DriverFailure keyNotFound() {
  return {platform::kIOReturnSuccess, SMCResultCode::kSMCKeyNotFound};
}
inline DriverFailure keySizeMismatch() {
  return {platform::kIOReturnSuccess, SMCResultCode::kSMCKeySizeMismatch};
}

}  // namespace ventra::smc::linux_backend
