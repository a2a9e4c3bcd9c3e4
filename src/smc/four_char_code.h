#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ventra {

// Four 8-bit characters packed into 32 bits, the first in the most significant byte.
// SMC keys and SMC data-type codes are both four-character codes.
using FourCharCode = std::uint32_t;

// Builds a code from a constant text of exactly four bytes; any other length yields nothing.
constexpr std::optional<FourCharCode> fourCharCodeFromLiteral(std::string_view text) {
  if (text.size() != 4) return std::nullopt;
  FourCharCode code = 0;
  for (char c : text) code = (code << 8) | static_cast<unsigned char>(c);
  return code;
}

namespace literals {
// "#KEY"_fcc: a code checked at build time; a text of other than four bytes does not compile.
consteval FourCharCode operator""_fcc(const char* text, std::size_t length) {
  if (length != 4) throw "a four-character code needs exactly four bytes";
  return *fourCharCodeFromLiteral(std::string_view(text, length));
}
}  // namespace literals

// Builds a code from a text of exactly four user-perceived characters: the UTF-8 bytes are
// shifted in one by one, so only the last four bytes survive. Other lengths or text that is
// not valid UTF-8 yield nothing.
std::optional<FourCharCode> fourCharCodeFromString(std::string_view utf8Text);

// Always four characters: each byte becomes the character of that code point (ISO 8859-1),
// returned as UTF-8, so bytes 0x80 and above take two bytes in the result.
std::string fourCharCodeToString(FourCharCode code);

// The exact inverse of fourCharCodeToString: four characters, each U+0000..U+00FF, one byte
// each. This is how texts that users and profiles write are read back into codes.
std::optional<FourCharCode> fourCharCodeFromDisplayText(std::string_view utf8Text);

}  // namespace ventra
