// Texts from the command line and from profiles become codes: check the conversions' promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "smc/four_char_code.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ventra;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto code = fourCharCodeFromDisplayText(text)) {
    if (fourCharCodeToString(*code) != text) std::abort();  // exact inverse
  }
  if (auto code = fourCharCodeFromString(text)) {
    if (size < 4) std::abort();  // four characters take at least four bytes
  }
  if (size >= 4) {
    FourCharCode code = (FourCharCode{data[0]} << 24) | (FourCharCode{data[1]} << 16) |
                        (FourCharCode{data[2]} << 8) | data[3];
    if (fourCharCodeFromDisplayText(fourCharCodeToString(code)) != code) std::abort();
  }
  return 0;
}
