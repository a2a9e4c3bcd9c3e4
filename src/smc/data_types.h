#pragma once

#include <array>
#include <cstdint>

#include "smc/four_char_code.h"

namespace ventra {

// The type and size of an SMC key's value. Equal when both parts are equal; no ordering.
struct DataType {
  FourCharCode type = 0;
  std::uint32_t size = 0;

  friend constexpr bool operator==(const DataType&, const DataType&) = default;
};

// The data types this program reads and writes.
struct DataTypes {
  DataTypes() = delete;
  static constexpr DataType FDS{*fourCharCodeFromLiteral("{fds"), 16};
  static constexpr DataType FLAG{*fourCharCodeFromLiteral("flag"), 1};
  static constexpr DataType FPE2{*fourCharCodeFromLiteral("fpe2"), 2};
  static constexpr DataType SP78{*fourCharCodeFromLiteral("sp78"), 2};
  static constexpr DataType UI8{*fourCharCodeFromLiteral("ui8 "), 1};
  static constexpr DataType UI32{*fourCharCodeFromLiteral("ui32"), 4};
};

// A key with the type of its value, either from a catalogue constant or as the SMC reports it.
struct SMCKey {
  FourCharCode code = 0;
  DataType info;
};

// The 32 value bytes of a read or write; numbers inside are most significant byte first.
using SMCDataBytes = std::array<std::uint8_t, 32>;

// An "fpe2" value: unsigned 14.2 fixed point, most significant byte first.
struct FPE2Bytes {
  std::uint8_t b0 = 0;
  std::uint8_t b1 = 0;

  friend constexpr bool operator==(const FPE2Bytes&, const FPE2Bytes&) = default;
};

inline constexpr std::int64_t kFPE2Max = 16383;

// The integer part of an fpe2 value, 0..16383.
constexpr std::int64_t intFromFPE2(FPE2Bytes bytes) {
  return (static_cast<std::int64_t>(bytes.b0) << 6) | (bytes.b1 >> 2);
}

// Encodes 0..16383 with zero fraction bits; anything else yields nothing.
constexpr std::optional<FPE2Bytes> fpe2FromInt(std::int64_t value) {
  if (value < 0 || value > kFPE2Max) return std::nullopt;
  return FPE2Bytes{static_cast<std::uint8_t>(value >> 6),
                   static_cast<std::uint8_t>((value & 0x3F) << 2)};
}

}  // namespace ventra
