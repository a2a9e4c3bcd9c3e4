#include "smc/utf8.h"

namespace ventra::utf8 {
namespace {

struct Lead {
  int continuationBytes;
  char32_t initialBits;
  char32_t smallest;
};

std::optional<Lead> classifyLead(unsigned char byte) {
  if (byte < 0x80) return Lead{0, byte, 0};
  if ((byte & 0xE0) == 0xC0) return Lead{1, byte & 0x1Fu, 0x80};
  if ((byte & 0xF0) == 0xE0) return Lead{2, byte & 0x0Fu, 0x800};
  if ((byte & 0xF8) == 0xF0) return Lead{3, byte & 0x07u, 0x10000};
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<char32_t>> decode(std::string_view text) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < text.size();) {
    auto lead = classifyLead(static_cast<unsigned char>(text[i]));
    if (!lead || i + lead->continuationBytes >= text.size()) return std::nullopt;
    char32_t value = lead->initialBits;
    for (int k = 1; k <= lead->continuationBytes; ++k) {
      auto byte = static_cast<unsigned char>(text[i + k]);
      if ((byte & 0xC0) != 0x80) return std::nullopt;
      value = (value << 6) | (byte & 0x3Fu);
    }
    if (value < lead->smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
      return std::nullopt;
    out.push_back(value);
    i += 1 + lead->continuationBytes;
  }
  return out;
}

void append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

namespace {

// The length of the valid UTF-8 sequence at `at`, 0 where none starts there.
std::size_t sequenceAt(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead >= 0x80 && lead < 0xC2) return 0;
  if (at + length > text.size()) return 0;
  auto decoded = decode(text.substr(at, length));
  return decoded && decoded->size() == 1 ? length : 0;
}

void appendEscaped(std::string& out, unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[(value >> 4) & 0xF];
  out += kDigits[value & 0xF];
}

}  // namespace

std::string escapeControls(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = sequenceAt(text, at);
    if (length == 0) {
      appendEscaped(out, static_cast<unsigned char>(text[at++]));
      continue;
    }
    auto codePoint = (*decode(text.substr(at, length)))[0];
    if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F))
      appendEscaped(out, static_cast<unsigned>(codePoint));
    else
      out.append(text.substr(at, length));
    at += length;
  }
  return out;
}

}  // namespace ventra::utf8
