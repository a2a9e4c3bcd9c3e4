#include "smc/four_char_code.h"

#include "smc/utf8.h"

namespace ventra {

std::optional<FourCharCode> fourCharCodeFromString(std::string_view utf8Text) {
  auto codePoints = utf8::decode(utf8Text);
  if (!codePoints || utf8::countCharacters(*codePoints) != 4) return std::nullopt;
  FourCharCode code = 0;  // bytes shifted past bit 31 are lost on purpose
  for (char byte : utf8Text) code = (code << 8) | static_cast<unsigned char>(byte);
  return code;
}

std::string fourCharCodeToString(FourCharCode code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) utf8::append(text, (code >> shift) & 0xFF);
  return text;
}

std::optional<FourCharCode> fourCharCodeFromDisplayText(std::string_view utf8Text) {
  auto codePoints = utf8::decode(utf8Text);
  if (!codePoints || codePoints->size() != 4) return std::nullopt;
  FourCharCode code = 0;
  for (char32_t c : *codePoints) {
    if (c > 0xFF) return std::nullopt;
    code = (code << 8) | c;
  }
  return code;
}

}  // namespace ventra
