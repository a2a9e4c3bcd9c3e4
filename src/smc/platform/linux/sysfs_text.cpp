#include "smc/platform/linux/sysfs_text.h"

#include <charconv>

namespace ventra::smc::linux_backend {
namespace {

std::string_view withoutNewline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

template <typename Number>
std::optional<Number> wholeNumber(std::string_view text) {
  std::string_view digits = withoutNewline(text);
  Number value{};
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
    return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::uint64_t> unsignedDecimal(std::string_view text) {
  return wholeNumber<std::uint64_t>(text);
}

std::optional<std::int64_t> signedDecimal(std::string_view text) {
  return wholeNumber<std::int64_t>(text);
}

std::optional<FourCharCode> fourCharacterLine(std::string_view text) {
  if (text.size() != 5 || text[4] != '\n') return std::nullopt;
  return fourCharCodeFromLiteral(text.substr(0, 4));
}

}  // namespace ventra::smc::linux_backend
