#include "support/applesmc_model.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>

namespace ventra::testing {
namespace {

constexpr std::size_t kMaxFans = 10;
const std::vector<std::string> kFanSpeedFiles = {"input", "min", "max", "safe", "output"};
const std::vector<std::string> kFanSpeedKeys = {"Ac", "Mn", "Mx", "Sf", "Tg"};

// kstrtoul: decimal digits after an optional '+', one trailing newline allowed.
std::optional<unsigned long> kernelUnsigned(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  unsigned long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return {};
  return value;
}

// "fan3_input" -> {3, "input"}
std::optional<std::pair<std::size_t, std::string>> indexed(const std::string& name,
                                                           const std::string& prefix) {
  if (name.rfind(prefix, 0) != 0) return {};
  std::size_t underscore = name.find('_', prefix.size());
  if (underscore == std::string::npos) return {};
  auto number = kernelUnsigned(name.substr(prefix.size(), underscore - prefix.size()));
  if (!number || *number == 0) return {};
  return std::pair{static_cast<std::size_t>(*number), name.substr(underscore + 1)};
}

unsigned bigEndian16(const std::string& data) {
  return (static_cast<unsigned char>(data[0]) << 8) | static_cast<unsigned char>(data[1]);
}

}  // namespace

ApplesmcModel::ApplesmcModel(std::vector<Key> keys) : keys_(std::move(keys)) {}

std::vector<ApplesmcModel::Key> ApplesmcModel::keysOf(const smc::emulator::Profile& profile) {
  std::vector<Key> keys;
  for (const auto& key : profile.keys) {
    const auto& value = key.values.empty() ? std::vector<std::uint8_t>{} : key.values.front();
    keys.push_back({fourCharCodeToString(key.code), fourCharCodeToString(key.info.type),
                    std::string(value.begin(), value.end())});
  }
  return keys;
}

const ApplesmcModel::Key* ApplesmcModel::keyNamed(const std::string& name) const {
  auto found =
      std::find_if(keys_.begin(), keys_.end(), [&](const Key& k) { return k.name == name; });
  return found == keys_.end() ? nullptr : &*found;
}

ApplesmcModel::Key* ApplesmcModel::mutableKey(const std::string& name) {
  return const_cast<Key*>(keyNamed(name));
}

// The driver counts keys by "#KEY", as the SMC reports it.
std::size_t ApplesmcModel::keyCount() const {
  const Key* count = keyNamed("#KEY");
  if (!count || count->data.size() != 4) return keys_.size();
  std::size_t value = 0;
  for (char byte : count->data) value = (value << 8) | static_cast<unsigned char>(byte);
  return std::min(value, keys_.size());
}

std::size_t ApplesmcModel::fanCount() const {
  const Key* count = keyNamed("FNum");
  if (!count || count->data.size() != 1) return 0;
  return std::min<std::size_t>(static_cast<unsigned char>(count->data[0]), kMaxFans);
}

// Every key from "T" up to "U" whose type is sp78, in key order.
std::vector<std::string> ApplesmcModel::temperatureKeys() const {
  std::vector<std::string> found;
  for (const Key& key : keys_)
    if (key.name >= "T" && key.name < "U" && key.type == "sp78") found.push_back(key.name);
  return found;
}

std::vector<std::string> ApplesmcModel::files() const {
  std::vector<std::string> names = {"name",
                                    "key_count",
                                    "key_at_index",
                                    "key_at_index_name",
                                    "key_at_index_type",
                                    "key_at_index_data_length",
                                    "key_at_index_data"};
  for (std::size_t fan = 1; fan <= fanCount(); ++fan) {
    for (const char* what : {"label", "input", "min", "max", "safe", "output", "manual"})
      names.push_back("fan" + std::to_string(fan) + "_" + what);
  }
  for (std::size_t sensor = 1; sensor <= temperatureKeys().size(); ++sensor) {
    names.push_back("temp" + std::to_string(sensor) + "_label");
    names.push_back("temp" + std::to_string(sensor) + "_input");
  }
  return names;
}

std::optional<unsigned> ApplesmcModel::mode(const std::string& name) const {
  auto all = files();
  if (std::find(all.begin(), all.end(), name) == all.end()) return {};
  bool stores = name == "key_at_index" || name.ends_with("_min") || name.ends_with("_output") ||
                name.ends_with("_manual");
  return stores ? 0644u : 0444u;
}

int ApplesmcModel::showKeyAtIndex(const std::string& what, std::string& out) {
  if (what == "key_at_index") return out = std::to_string(keyAtIndex_) + "\n", 0;
  if (keyAtIndex_ >= keys_.size()) return EIO;
  const Key& key = keys_[keyAtIndex_];
  if (what == "key_at_index_name") return out = key.name + "\n", 0;
  if (what == "key_at_index_type") return out = key.type + "\n", 0;
  if (what == "key_at_index_data_length") return out = std::to_string(key.data.size()) + "\n", 0;
  return out = key.data, 0;
}

int ApplesmcModel::showFan(int fan, const std::string& what, std::string& out) const {
  const std::string number = std::to_string(fan);
  const std::string prefix = "F" + number;
  if (what == "label") {
    const Key* id = keyNamed(prefix + "ID");
    if (!id || id->data.size() != 16) return EINVAL;
    std::string label = id->data.substr(4);
    return out = label.substr(0, label.find('\0')) + "\n", 0;
  }
  if (what == "manual") {
    const Key* manual = keyNamed("FS! ");
    if (!manual || manual->data.size() != 2) return EINVAL;
    return out = std::to_string((bigEndian16(manual->data) >> fan) & 1) + "\n", 0;
  }
  auto file = std::find(kFanSpeedFiles.begin(), kFanSpeedFiles.end(), what);
  const Key* key = keyNamed(prefix + kFanSpeedKeys[std::size_t(file - kFanSpeedFiles.begin())]);
  if (!key || key->data.size() != 2) return EINVAL;
  return out = std::to_string(bigEndian16(key->data) >> 2) + "\n", 0;
}

int ApplesmcModel::showTemperature(std::size_t sensor, const std::string& what,
                                   std::string& out) const {
  const Key* key = keyNamed(temperatureKeys().at(sensor - 1));
  if (what == "label") return out = key->name + "\n", 0;
  if (key->data.size() != 2) return EINVAL;
  auto value = static_cast<std::int16_t>(bigEndian16(key->data));
  return out = std::to_string(250 * (value >> 6)) + "\n", 0;
}

int ApplesmcModel::show(const std::string& name, std::string& out) {
  std::lock_guard lock(mutex_);
  if (beforeShow) beforeShow(*this);
  int error = showFile(name, out);
  if (!error && afterShow) afterShow(*this, name);
  return error;
}

int ApplesmcModel::showFile(const std::string& name, std::string& out) {
  if (!mode(name)) return ENOENT;
  if (name == "name") return out = "applesmc\n", 0;
  if (name == "key_count") return out = std::to_string(keyCount()) + "\n", 0;
  if (name.rfind("key_at_index", 0) == 0) return showKeyAtIndex(name, out);
  if (auto fan = indexed(name, "fan")) return showFan(int(fan->first) - 1, fan->second, out);
  auto sensor = indexed(name, "temp");
  return showTemperature(sensor->first, sensor->second, out);
}

int ApplesmcModel::storeFan(int fan, const std::string& what, const std::string& text) {
  auto value = kernelUnsigned(text);
  if (!value) return EINVAL;
  if (what == "manual") {
    Key* manual = mutableKey("FS! ");
    if (!manual || manual->data.size() != 2) return EINVAL;
    unsigned bits = bigEndian16(manual->data);
    bits = *value ? bits | (1u << fan) : bits & ~(1u << fan);
    manual->data = {char(bits >> 8), char(bits & 0xFF)};
    return 0;
  }
  if (*value >= 0x4000) return EINVAL;
  const std::string number = std::to_string(fan);
  Key* key = mutableKey("F" + number + (what == "min" ? "Mn" : "Tg"));
  if (!key || key->data.size() != 2) return EINVAL;
  key->data = {char((*value >> 6) & 0xFF), char((*value << 2) & 0xFF)};
  return 0;
}

int ApplesmcModel::store(const std::string& name, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (mode(name).value_or(0444) != 0644) return EACCES;
  if (name == "key_at_index") {
    auto index = kernelUnsigned(text);
    if (!index || *index >= keyCount()) return EINVAL;
    keyAtIndex_ = *index;
    return 0;
  }
  auto fan = indexed(name, "fan");
  return storeFan(int(fan->first) - 1, fan->second, text);
}

}  // namespace ventra::testing
