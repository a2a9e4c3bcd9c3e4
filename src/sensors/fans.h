#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "smc/data_types.h"

namespace ventra {

struct Fan {
  std::int64_t id = 0;
  std::string name;
  std::int64_t minSpeed = 0;
  std::int64_t maxSpeed = 0;

  friend bool operator==(const Fan&, const Fan&) = default;
};

// Bytes 4..15 of a "{fds" value, one ISO 8859-1 character per byte (as UTF-8), with blanks
// (U+0020, U+00A0) and tabs trimmed from both ends. Zero bytes are kept.
std::string fanNameFromDescriptor(const SMCDataBytes& bytes);

// Fan operations over the open connection. Fan numbers are 0..9, the only ones that form a
// four-character key; any other number throws keyNotFound with the would-be key's text
// before a request is sent.
namespace SMCAccess {
std::int64_t fanCount();
std::string fanName(std::int64_t fan);
std::int64_t fanCurrentSpeed(std::int64_t fan);
std::int64_t fanMinSpeed(std::int64_t fan);
std::int64_t fanMaxSpeed(std::int64_t fan);
Fan fan(std::int64_t fan);
std::vector<Fan> allFans();
// Reads the maximum, throws unsafeFanSpeed outside 1..maximum, then writes "F<n>Mn".
void fanSetMinSpeed(std::int64_t fan, std::int64_t speed);
}  // namespace SMCAccess

}  // namespace ventra
