#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>

#include "smc/data_types.h"

namespace ventra {

struct SMCVersion {
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  std::uint8_t build = 0;
  std::uint8_t reserved = 0;
  std::uint16_t release = 0;
};

struct SMCPLimitData {
  std::uint16_t version = 0;
  std::uint16_t length = 0;
  std::uint32_t cpuPLimit = 0;
  std::uint32_t gpuPLimit = 0;
  std::uint32_t memPLimit = 0;
};

// The driver packs this record into 9 bytes; declared naturally it would round up to 12 and
// push `result` to offset 42, which the driver would read as a different field.
#pragma pack(push, 1)
struct SMCKeyInfoData {
  std::uint32_t dataSize = 0;
  std::uint32_t dataType = 0;
  std::uint8_t dataAttributes = 0;
};
#pragma pack(pop)

// The 80-byte block exchanged with the SMC driver, in the host's byte order. Every gap is a
// named member so that a value-initialised block is zero in every byte.
struct SMCParamStruct {
  enum class Selector : std::uint8_t {
    kSMCHandleYPCEvent = 2,
    kSMCReadKey = 5,
    kSMCWriteKey = 6,
    kSMCGetKeyFromIndex = 8,
    kSMCGetKeyInfo = 9,
  };
  enum class Result : std::uint8_t {
    kSMCSuccess = 0,
    kSMCError = 1,
    kSMCKeyNotFound = 132,  // SMCResultCode::kSMCKeyNotFound
  };

  std::uint32_t key = 0;
  SMCVersion vers;
  std::uint8_t gapAfterVersion[2] = {};
  SMCPLimitData pLimitData;
  SMCKeyInfoData keyInfo;
  std::uint8_t gapAfterKeyInfo = 0;
  std::uint16_t padding = 0;
  std::uint8_t result = 0;
  std::uint8_t status = 0;
  std::uint8_t data8 = 0;
  std::uint8_t gapAfterData8 = 0;
  std::uint32_t data32 = 0;
  SMCDataBytes bytes = {};

  static constexpr std::size_t kSize = 80;
  using Raw = std::array<std::uint8_t, kSize>;

  static constexpr std::optional<Selector> selectorFromRaw(std::uint8_t raw) {
    switch (raw) {
      case 2:
      case 5:
      case 6:
      case 8:
      case 9:
        return static_cast<Selector>(raw);
      default:
        return std::nullopt;
    }
  }
  static constexpr std::optional<Result> resultFromRaw(std::uint8_t raw) {
    switch (raw) {
      case 0:
      case 1:
      case 132:
        return static_cast<Result>(raw);
      default:
        return std::nullopt;
    }
  }

  Raw toRaw() const {
    Raw raw;
    std::memcpy(raw.data(), this, kSize);
    return raw;
  }
  static SMCParamStruct fromRaw(const std::uint8_t* raw) {
    SMCParamStruct block;
    std::memcpy(&block, raw, kSize);
    return block;
  }
};

// The result byte's values, in one place: the three the program itself decides on (Result) and
// the firmware errors that the emulator and the Linux backend answer with.
namespace SMCResultCode {
inline constexpr std::uint8_t kSMCSuccess = 0;
inline constexpr std::uint8_t kSMCError = 1;
inline constexpr std::uint8_t kSMCBadCommand = 0x82;
inline constexpr std::uint8_t kSMCKeyNotFound = 0x84;  // 132
inline constexpr std::uint8_t kSMCKeyNotWritable = 0x86;
inline constexpr std::uint8_t kSMCKeySizeMismatch = 0x87;
}  // namespace SMCResultCode

constexpr std::uint8_t rawValue(SMCParamStruct::Selector s) {
  return static_cast<std::uint8_t>(s);
}
constexpr std::uint8_t rawValue(SMCParamStruct::Result r) {
  return static_cast<std::uint8_t>(r);
}

// The driver's contract, checked at build time.
static_assert(sizeof(SMCParamStruct) == 80);
static_assert(alignof(SMCParamStruct) == 4);
static_assert(std::is_trivially_copyable_v<SMCParamStruct>);
static_assert(std::has_unique_object_representations_v<SMCParamStruct>, "no hidden padding");
static_assert(offsetof(SMCParamStruct, key) == 0);
static_assert(offsetof(SMCParamStruct, vers) == 4);
static_assert(offsetof(SMCParamStruct, pLimitData) == 12);
static_assert(offsetof(SMCParamStruct, keyInfo) == 28);
static_assert(offsetof(SMCParamStruct, padding) == 38);
static_assert(offsetof(SMCParamStruct, result) == 40);
static_assert(offsetof(SMCParamStruct, status) == 41);
static_assert(offsetof(SMCParamStruct, data8) == 42);
static_assert(offsetof(SMCParamStruct, data32) == 44);
static_assert(offsetof(SMCParamStruct, bytes) == 48);
static_assert(offsetof(SMCVersion, release) == 4);
static_assert(offsetof(SMCPLimitData, cpuPLimit) == 4);
static_assert(offsetof(SMCKeyInfoData, dataType) == 4);
static_assert(offsetof(SMCKeyInfoData, dataAttributes) == 8);

}  // namespace ventra
