#pragma once

// Key values as hex text, the way profiles hold them and ventractl shows and takes them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ventra {

// "0FA0" or "0F A0" to bytes; nothing for odd digit counts or non-hex characters.
std::optional<std::vector<std::uint8_t>> bytesFromHex(const std::string& text);
// "0FA0": two upper-case digits a byte, no spaces.
std::string hexFromBytes(const std::uint8_t* bytes, std::size_t count);

}  // namespace ventra
