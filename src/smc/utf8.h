#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventra::utf8 {

// Decodes strictly: overlong forms, surrogates and values past U+10FFFF are rejected.
std::optional<std::vector<char32_t>> decode(std::string_view text);

void append(std::string& out, char32_t codePoint);

// The text safe to show on a terminal: control characters (C0, DEL and the C1 range
// U+0080..U+009F) and bytes that are not UTF-8 become "\xHH"; everything else, every other
// character of two or more bytes included, passes whole.
std::string escapeControls(std::string_view text);

// The number of user-perceived characters: Unicode's extended grapheme clusters (UAX #29), so a
// base character with the marks, joiners, variation selectors and modifiers that attach to it,
// a Hangul syllable spelt in jamo, an emoji sequence or a flag counts once (graphemes.cpp).
std::size_t countCharacters(const std::vector<char32_t>& codePoints);

}  // namespace ventra::utf8
