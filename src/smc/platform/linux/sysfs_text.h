#pragma once

// Strict readers for the text the applesmc driver writes into its attribute files. Anything the
// driver does not document (no newline, junk, out of range) yields nothing; callers report that
// as an I/O error and never guess a value.

#include <cstdint>
#include <optional>
#include <string_view>

#include "smc/four_char_code.h"

namespace ventra::smc::linux_backend {

// "123\n" or "123": an unsigned decimal.
std::optional<std::uint64_t> unsignedDecimal(std::string_view text);
// "-5250\n": a signed decimal that fits 64 bits.
std::optional<std::int64_t> signedDecimal(std::string_view text);
// Four characters and a newline, blanks kept ("ui8 \n").
std::optional<FourCharCode> fourCharacterLine(std::string_view text);

}  // namespace ventra::smc::linux_backend
