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

// The number of user-perceived characters: a base character with the marks, joiners,
// variation selectors and modifiers that attach to it counts once.
std::size_t countCharacters(const std::vector<char32_t>& codePoints);

}  // namespace ventra::utf8
