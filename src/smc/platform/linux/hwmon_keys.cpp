#include "smc/platform/linux/hwmon_keys.h"

#include <algorithm>
#include <cerrno>

#include "smc/platform/linux/driver_failure.h"
#include "smc/platform/linux/sysfs_text.h"

namespace ventra::smc::linux_backend {
namespace pf = platform;
namespace {

constexpr int kMaxFans = 10;  // the driver's cap on FNum
constexpr int kMaxTemperatureFiles = 1024;
constexpr std::size_t kLabelBytes = 12;  // F<n>ID bytes 4..15

bool isTemperatureKey(FourCharCode code) {
  return (code >> 24) == 'T';
}

std::string_view line(std::string_view text) {
  if (text.empty() || text.back() != '\n') return {};
  return text.substr(0, text.size() - 1);
}

SMCDataBytes bigEndian16(std::uint16_t value) {
  SMCDataBytes bytes{};
  bytes[0] = static_cast<std::uint8_t>(value >> 8);
  bytes[1] = static_cast<std::uint8_t>(value & 0xFF);
  return bytes;
}

}  // namespace

// The driver shows ((b0 << 8) | b1) >> 2, which is below 16384.
std::optional<SMCDataBytes> fanSpeedBytes(std::string_view text) {
  auto rpm = unsignedDecimal(text);
  if (!rpm || *rpm > static_cast<std::uint64_t>(kFPE2Max) || line(text).empty()) return {};
  return bigEndian16(static_cast<std::uint16_t>(*rpm << 2));
}

// The driver shows bytes 4.. up to the first zero byte; the header bytes are not shown.
std::optional<SMCDataBytes> fanLabelBytes(std::string_view text) {
  std::string_view label = line(text);
  if (text.empty() || text.back() != '\n' || label.size() > kLabelBytes ||
      label.find('\0') != std::string_view::npos)
    return {};
  SMCDataBytes bytes{};
  std::copy(label.begin(), label.end(), bytes.begin() + 4);
  return bytes;
}

// The driver shows 250 × (v >> 6) for the big-endian signed 16-bit value v.
std::optional<SMCDataBytes> temperatureBytes(std::string_view text) {
  auto millidegrees = signedDecimal(text);
  if (!millidegrees || line(text).empty() || *millidegrees % 250 != 0) return {};
  std::int64_t steps = *millidegrees / 250;
  if (steps < -512 || steps > 511) return {};
  return bigEndian16(static_cast<std::uint16_t>(static_cast<std::int16_t>(steps * 64)));
}

HwmonKeys::HwmonKeys(std::shared_ptr<Sysfs> files, KnownTemperatureKeys known)
    : files_(std::move(files)), known_(std::move(known)) {}

bool HwmonKeys::findAttributes() {
  if (found_) return *found_;
  auto hasAttributes = [&](const std::string& at) {
    return files_->exists(at + "fan1_input") || files_->exists(at + "temp1_input");
  };
  found_ = hasAttributes("");
  if (!*found_) {
    for (const std::string& entry : files_->list("hwmon")) {
      if (hasAttributes("hwmon/" + entry + "/")) {
        prefix_ = "hwmon/" + entry + "/";
        found_ = true;
        break;
      }
    }
  }
  return *found_;
}

std::string HwmonKeys::readAttribute(const std::string& file) {
  std::string text;
  int error = files_->read(prefix_ + file, text);
  // The driver answers EINVAL when the key behind an attribute is missing or of another size.
  if (error == EINVAL) throw keyNotFound();
  if (error) throw callFailed(ioReturnFromErrno(error));
  return text;
}

std::uint8_t HwmonKeys::fanCount() {
  std::uint8_t count = 0;
  while (count < kMaxFans && files_->exists(prefix_ + "fan" + std::to_string(count + 1) + "_input"))
    ++count;
  return count;
}

std::optional<std::string> fanAttributeFile(const std::string& key) {
  if (key.size() != 4 || key[0] != 'F' || key[1] < '0' || key[1] > '9') return {};
  static const std::map<std::string, std::string> kSuffixes = {{"ID", "label"}, {"Ac", "input"},
                                                               {"Mn", "min"},   {"Mx", "max"},
                                                               {"Sf", "safe"},  {"Tg", "output"}};
  auto suffix = kSuffixes.find(key.substr(2));
  if (suffix == kSuffixes.end()) return {};
  return "fan" + std::to_string(key[1] - '0' + 1) + "_" + suffix->second;
}

std::optional<HwmonKeys::Route> HwmonKeys::fanRoute(const std::string& key) {
  if (key == "FNum") return Route{Kind::fanCount, "", DataTypes::UI8};
  auto file = fanAttributeFile(key);
  if (!file) return {};
  if (key.ends_with("ID")) return Route{Kind::fanLabel, *file, DataTypes::FDS};
  return Route{Kind::fanSpeed, *file, DataTypes::FPE2};
}

// Every sp78 key from "T" up to "U" has a tempN_label naming it: the list is complete. Read once.
const std::map<FourCharCode, std::string>& HwmonKeys::temperatureFiles() {
  if (!temperatureFiles_) {
    temperatureFiles_.emplace();
    for (int n = 1; n <= kMaxTemperatureFiles; ++n) {
      std::string label;
      std::string base = "temp" + std::to_string(n);
      if (files_->read(prefix_ + base + "_label", label) != 0) break;
      if (auto key = fourCharacterLine(label)) (*temperatureFiles_)[*key] = base + "_input";
    }
  }
  return *temperatureFiles_;
}

std::optional<HwmonKeys::Route> HwmonKeys::temperatureRoute(FourCharCode code) {
  auto file = temperatureFiles().find(code);
  if (file == temperatureFiles().end()) return {};
  return Route{Kind::temperature, file->second, DataTypes::SP78};
}

std::optional<HwmonKeys::Route> HwmonKeys::route(FourCharCode code) {
  if (!findAttributes()) return {};
  auto fan = fanRoute(fourCharCodeToString(code));
  if (fan && (fan->kind == Kind::fanCount || files_->exists(prefix_ + fan->file))) return fan;
  if (fan || !isTemperatureKey(code)) return {};
  return temperatureRoute(code);
}

std::vector<FourCharCode> HwmonKeys::temperatureKeys() {
  std::vector<FourCharCode> keys;
  if (!findAttributes()) return keys;
  for (const auto& [code, file] : temperatureFiles()) keys.push_back(code);
  return keys;
}

bool HwmonKeys::carries(FourCharCode code) {
  return route(code).has_value();
}

// A fan key of a fan beyond the driver's count is absent, and so is a known sp78 temperature key
// missing from the driver's list of them. Any other unlisted "T" key may exist with another type
// than sp78 (the list holds only sp78 keys): that needs root to tell.
bool HwmonKeys::showsAbsent(FourCharCode code) {
  const std::string key = fourCharCodeToString(code);
  if (!findAttributes() || carries(code) || key == "FNum") return false;
  if (fanRoute(key)) return static_cast<std::uint8_t>(key[1] - '0') >= fanCount();
  return isTemperatureKey(code) && known_ && known_(code);
}

DataType HwmonKeys::keyInfo(FourCharCode code) {
  Route found = route(code).value();
  if (found.kind != Kind::fanCount) readAttribute(found.file);  // the key exists
  return found.type;
}

SMCDataBytes HwmonKeys::read(FourCharCode code, std::uint32_t size) {
  Route found = route(code).value();
  if (size != found.type.size) throw keySizeMismatch();
  if (found.kind == Kind::fanCount) {
    SMCDataBytes bytes{};
    bytes[0] = fanCount();
    return bytes;
  }
  std::string text = readAttribute(found.file);
  std::optional<SMCDataBytes> bytes;
  switch (found.kind) {
    case Kind::fanLabel:
      bytes = fanLabelBytes(text);
      break;
    case Kind::fanSpeed:
      bytes = fanSpeedBytes(text);
      break;
    default:
      bytes = temperatureBytes(text);
  }
  if (!bytes) throw callFailed(pf::kIOReturnIOError);
  return *bytes;
}

}  // namespace ventra::smc::linux_backend
