#include "views/value_format.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <sstream>

#include "sensors/battery.h"
#include "sensors/fans.h"
#include "sensors/temperature.h"
#include "smc/hex_bytes.h"
#include "smc/utf8.h"

namespace ventra::ctl {
namespace {
using literals::operator""_fcc;

std::uint64_t unsignedBigEndian(const SMCDataBytes& bytes, std::uint32_t size) {
  std::uint64_t value = 0;
  for (std::uint32_t i = 0; i < size; ++i) value = (value << 8) | bytes[i];
  return value;
}

std::int64_t signedBigEndian(const SMCDataBytes& bytes, std::uint32_t size) {
  std::uint64_t raw = unsignedBigEndian(bytes, size);
  std::uint64_t signBit = std::uint64_t{1} << (size * 8 - 1);
  return (raw & signBit) ? static_cast<std::int64_t>(raw) - static_cast<std::int64_t>(signBit << 1)
                         : static_cast<std::int64_t>(raw);
}

}  // namespace

nlohmann::ordered_json decodeValue(const DataType& info, const SMCDataBytes& bytes) {
  const std::uint32_t size = info.size;
  switch (info.type) {
    case "fpe2"_fcc:
      if (size == 2) return intFromFPE2({bytes[0], bytes[1]});
      break;
    case "sp78"_fcc:  // as the temperature readers decode it, so every command agrees
      if (size == 2) return SMCAccess::celsiusFromSP78(bytes[0]);
      break;
    case "ui8 "_fcc:
    case "ui16"_fcc:
    case "ui32"_fcc:
    case "hex_"_fcc:
      if (size == 1 || size == 2 || size == 4) return unsignedBigEndian(bytes, size);
      break;
    case "si8 "_fcc:
    case "si16"_fcc:
      if (size == 1 || size == 2) return signedBigEndian(bytes, size);
      break;
    case "flag"_fcc:  // as the MSDI and battery readers decode it
      if (size == 1) return SMCAccess::flagIsSet(bytes[0]);
      break;
    case "{rev"_fcc:  // a firmware version: 01 39 0F 00 00 11 is "1.39f11"
      if (size == 6) {
        char text[32];
        std::snprintf(text, sizeof text, "%x.%x%x%x", bytes[0], bytes[1], bytes[2],
                      (unsigned{bytes[4]} << 8) | bytes[5]);
        return std::string(text);
      }
      break;
    case "ch8*"_fcc: {  // text, up to its first zero byte, shown only when printable
      std::string text(bytes.begin(), bytes.begin() + std::min<std::uint32_t>(size, 32));
      text = text.substr(0, text.find('\0'));
      bool printable =
          std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
      if (printable) return text;
      break;
    }
    case "{fds"_fcc:
      if (size == 16) {
        std::string name = fanNameFromDescriptor(bytes);
        while (!name.empty() && name.back() == '\0') name.pop_back();  // zero-byte padding
        return name;
      }
      break;
    default:
      break;
  }
  return nullptr;
}

std::string valueText(const nlohmann::ordered_json& value) {
  if (value.is_null()) return "-";
  if (value.is_number_float()) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value.get<double>());
    return text;
  }
  // JSON escapes C0 controls itself but passes C1 ones (U+009B is a terminal's CSI) as they are.
  return utf8::escapeControls(value.dump());
}

std::string hexOf(const SMCDataBytes& bytes, std::uint32_t size) {
  return hexFromBytes(bytes.data(), std::min<std::uint32_t>(size, 32));
}

std::string shown(const nlohmann::ordered_json& text) {
  return utf8::escapeControls(text.is_string() ? text.get<std::string>() : text.dump());
}

std::string memoryText(std::uint64_t bytes) {
  std::ostringstream text;
  if (bytes >= (std::uint64_t{1} << 30))
    text << std::fixed << std::setprecision(1) << static_cast<double>(bytes) / (1 << 30) << " GiB";
  else
    text << (bytes >> 20) << " MiB";
  return text.str();
}

}  // namespace ventra::ctl
