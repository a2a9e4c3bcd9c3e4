#include "line/values.h"

#include <charconv>
#include <cmath>

namespace ventra::ctl {

long long parseInteger(const std::string& text, const std::string& what, long long low,
                       long long high) {
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  const bool digits = !text.empty() && end == text.data() + text.size();
  if (!digits || (ec != std::errc() && ec != std::errc::result_out_of_range))
    throw UsageError(what + " must be a whole number, not \"" + text + "\"");
  if (ec == std::errc::result_out_of_range || value < low || value > high)
    throw UsageError(what + " must be from " + std::to_string(low) + " to " + std::to_string(high));
  return value;
}

double parseSeconds(const std::string& text, const std::string& what) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
      !std::isfinite(value) || value <= 0 || value > 86400)
    throw UsageError(what + " must be a number of seconds above 0 and at most 86400");
  return value;
}

std::vector<std::string> commaSeparated(const std::string& text) {
  std::vector<std::string> words;
  for (std::size_t from = 0;;) {
    const std::size_t comma = text.find(',', from);
    words.push_back(text.substr(from, comma == std::string::npos ? comma : comma - from));
    if (comma == std::string::npos) return words;
    from = comma + 1;
  }
}

}  // namespace ventra::ctl
