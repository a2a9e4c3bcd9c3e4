#include <algorithm>
#include <stdexcept>

#include "smc/smc_access.h"

namespace ventra::SMCAccess {
namespace {
using literals::operator""_fcc;
constexpr SMCKey kKeyCountKey{"#KEY"_fcc, DataTypes::UI32};
constexpr std::int64_t kMaxIndex = 0xFFFFFFFF;
constexpr std::int64_t kReserveLimit = 4096;
}  // namespace

std::int64_t countKeys() {
  SMCDataBytes bytes = readKey(kKeyCountKey);
  std::uint32_t count = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                        (std::uint32_t{bytes[2]} << 8) | bytes[3];
  return count;
}

FourCharCode getKeyFromIndex(std::int64_t index) {
  if (index < 0 || index > kMaxIndex)
    throw std::out_of_range("SMC key index " + std::to_string(index) + " is outside 0..4294967295");
  SMCParamStruct request{};
  request.data8 = rawValue(SMCParamStruct::Selector::kSMCGetKeyFromIndex);
  request.data32 = static_cast<std::uint32_t>(index);
  return sendToDriver(request, SMCParamStruct::Selector::kSMCHandleYPCEvent).key;
}

std::vector<SMCKey> listAllKeys() {
  std::int64_t count = countKeys();
  std::vector<SMCKey> keys;
  // The count is the driver's word: a junk "#KEY" must not become a 48 GB reservation.
  keys.reserve(static_cast<std::size_t>(std::min<std::int64_t>(count, kReserveLimit)));
  for (std::int64_t index = 0; index < count; ++index) {
    FourCharCode code = getKeyFromIndex(index);
    keys.push_back(SMCKey{code, getKeyInfo(code)});
  }
  return keys;
}

}  // namespace ventra::SMCAccess
