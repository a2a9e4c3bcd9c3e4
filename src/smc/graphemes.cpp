// User-perceived characters: the extended grapheme clusters of Unicode's text segmentation rules
// (UAX #29), over the break property table generated from the Unicode Character Database.
#include <algorithm>
#include <array>
#include <cstdint>

#include "smc/utf8.h"

namespace ventra::utf8 {
namespace {

enum class Break : std::uint8_t {
  Other,
  CR,
  LF,
  Control,
  Extend,
  ZWJ,
  Regional_Indicator,
  Prepend,
  SpacingMark,
  L,
  V,
  T,
  LV,
  LVT,
  Extended_Pictographic,
};

struct Range {
  char32_t first, last;
  Break value;
};

constexpr Range kBreaks[] = {
#include "smc/grapheme_break_data.inc"
};

Break breakOf(char32_t c) {
  auto after = std::upper_bound(std::begin(kBreaks), std::end(kBreaks), c,
                                [](char32_t code, const Range& r) { return code < r.first; });
  if (after == std::begin(kBreaks)) return Break::Other;
  const Range& range = *(after - 1);
  return c <= range.last ? range.value : Break::Other;
}

bool isControlLike(Break b) {
  return b == Break::Control || b == Break::CR || b == Break::LF;
}

// The rules between two characters that do not depend on what came before them (GB3 to GB9b).
bool joinedPair(Break before, Break after) {
  using enum Break;
  if (before == CR && after == LF) return true;                     // GB3
  if (isControlLike(before) || isControlLike(after)) return false;  // GB4, GB5
  if (before == L && (after == L || after == V || after == LV || after == LVT)) return true;
  if ((before == LV || before == V) && (after == V || after == T)) return true;  // GB7
  if ((before == LVT || before == T) && after == T) return true;                 // GB8
  if (after == Extend || after == ZWJ || after == SpacingMark) return true;      // GB9, GB9a
  return before == Prepend;                                                      // GB9b
}

}  // namespace

std::size_t countCharacters(const std::vector<char32_t>& codePoints) {
  std::size_t count = 0;
  Break before = Break::Other;
  bool pictographicRun = false;  // Extended_Pictographic Extend* (then ZWJ): GB11
  std::size_t regionalRun = 0;   // regional indicators in a row: GB12, GB13
  for (std::size_t i = 0; i < codePoints.size(); ++i) {
    const Break now = breakOf(codePoints[i]);
    bool joined = i > 0 && joinedPair(before, now);
    if (i > 0 && before == Break::ZWJ && now == Break::Extended_Pictographic && pictographicRun)
      joined = true;  // GB11
    if (i > 0 && now == Break::Regional_Indicator && regionalRun % 2 == 1) joined = true;
    if (!joined) ++count;
    regionalRun = now == Break::Regional_Indicator ? regionalRun + 1 : 0;
    if (now == Break::Extended_Pictographic)
      pictographicRun = true;
    else if (now != Break::Extend && !(now == Break::ZWJ && before != Break::ZWJ))
      pictographicRun = false;
    before = now;
  }
  return count;
}

}  // namespace ventra::utf8
