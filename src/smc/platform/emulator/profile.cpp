#include "smc/platform/emulator/profile.h"

#include "files/json_text.h"
#include "smc/hex_bytes.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace ventra::smc::emulator {
namespace {
using nlohmann::json;
using literals::operator""_fcc;

[[noreturn]] void fail(const std::string& where, const std::string& problem) {
  throw ProfileError(where + ": " + problem);
}

void rejectUnknownFields(const json& object, const std::set<std::string>& allowed,
                         const std::string& where) {
  for (const auto& [name, value] : object.items())
    if (!allowed.contains(name)) fail(where, "unknown field \"" + name + "\"");
}

FourCharCode codeField(const json& entry, const char* field, const std::string& where) {
  if (!entry.contains(field)) fail(where, std::string("missing \"") + field + "\"");
  const json& value = entry[field];
  if (!value.is_string()) fail(where, std::string("\"") + field + "\" must be a text");
  auto code = fourCharCodeFromDisplayText(value.get<std::string>());
  if (!code)
    fail(where, std::string("\"") + field + "\" must be exactly four characters (U+0000..U+00FF)");
  return *code;
}

std::int64_t integerField(const json& value, std::int64_t low, std::int64_t high,
                          const std::string& where, const char* field) {
  bool ok = value.is_number_integer();
  std::int64_t number = ok ? value.get<std::int64_t>() : 0;
  if (ok && value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(INT64_MAX))
    ok = false;
  if (!ok || number < low || number > high)
    fail(where, std::string("\"") + field + "\" must be a whole number from " +
                    std::to_string(low) + " to " + std::to_string(high));
  return number;
}

std::int32_t ioReturnField(const json& value, const std::string& where) {
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    std::size_t used = 0;
    unsigned long long parsed = 0;
    try {
      parsed = std::stoull(text, &used, 0);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != text.size() || used == 0 || parsed > 0xFFFFFFFFull)
      fail(where, "\"ioReturn\" text must be a 32-bit number such as \"0xE00002C1\"");
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(parsed));
  }
  auto number = integerField(value, INT32_MIN, UINT32_MAX, where, "ioReturn");
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
}

std::vector<std::vector<std::uint8_t>> valuesField(const json& entry, const std::string& where) {
  if (!entry.contains("bytes")) fail(where, "missing \"bytes\"");
  const json& bytes = entry["bytes"];
  std::vector<json> texts;
  if (bytes.is_string()) texts.push_back(bytes);
  if (bytes.is_array()) texts.assign(bytes.begin(), bytes.end());
  if (texts.empty()) fail(where, "\"bytes\" must be a hex text or a non-empty list of them");
  std::vector<std::vector<std::uint8_t>> values;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::string at = bytes.is_array() ? where + ": bytes[" + std::to_string(i) + "]" : where;
    auto decoded = texts[i].is_string() ? bytesFromHex(texts[i].get<std::string>()) : std::nullopt;
    if (!decoded) fail(at, "\"bytes\" must be hex digits in pairs (e.g. \"0FA0\")");
    values.push_back(std::move(*decoded));
  }
  return values;
}

std::uint32_t sizeOf(const json& entry, const std::vector<std::vector<std::uint8_t>>& values,
                     const std::string& where) {
  std::size_t size =
      entry.contains("size")
          ? static_cast<std::size_t>(integerField(entry["size"], 0, 32, where, "size"))
          : values.front().size();
  if (size > 32) fail(where, "a value holds at most 32 bytes");
  for (const auto& value : values)
    if (value.size() != size)
      fail(where, "\"bytes\" holds " + std::to_string(value.size()) + " bytes but the size is " +
                      std::to_string(size));
  return static_cast<std::uint32_t>(size);
}

ProfileKey parseKey(const json& entry, const std::string& where) {
  if (!entry.is_object()) fail(where, "each key must be an object");
  rejectUnknownFields(entry,
                      {"key", "type", "bytes", "size", "writable", "result", "ioReturn", "failsOn",
                       "attributes", "note"},
                      where);
  ProfileKey key;
  key.code = codeField(entry, "key", where);
  std::string named = where + " \"" + entry["key"].get<std::string>() + "\"";
  key.info.type = codeField(entry, "type", named);
  key.values = valuesField(entry, named);
  key.info.size = sizeOf(entry, key.values, named);
  if (entry.contains("writable")) {
    if (!entry["writable"].is_boolean()) fail(named, "\"writable\" must be true or false");
    key.writable = entry["writable"].get<bool>();
  }
  if (entry.contains("result"))
    key.result = static_cast<std::uint8_t>(integerField(entry["result"], 0, 255, named, "result"));
  if (entry.contains("ioReturn")) key.ioReturn = ioReturnField(entry["ioReturn"], named);
  if (entry.contains("failsOn")) {
    const json& on = entry["failsOn"];
    if (!on.is_string() || (on != "read" && on != "any"))
      fail(named, "\"failsOn\" must be \"read\" or \"any\"");
    key.failsOn = on == "read" ? ProfileKey::FailsOn::reads : ProfileKey::FailsOn::everyRequest;
  }
  if (entry.contains("attributes"))
    key.attributes =
        static_cast<std::uint8_t>(integerField(entry["attributes"], 0, 255, named, "attributes"));
  return key;
}

template <typename Enum>
Enum choice(const json& document, const char* field, const std::map<std::string, Enum>& choices,
            Enum fallback, const std::string& where) {
  if (!document.contains(field)) return fallback;
  const json& value = document[field];
  std::string names;
  for (const auto& [name, _] : choices) names += (names.empty() ? "\"" : ", \"") + name + "\"";
  if (!value.is_string() || !choices.contains(value.get<std::string>()))
    fail(where, std::string("\"") + field + "\" must be one of " + names);
  return choices.at(value.get<std::string>());
}

double numberField(const json& object, const char* field, double low, double high,
                   const std::string& where) {
  if (!object.contains(field)) fail(where, std::string("missing \"") + field + "\"");
  const json& value = object[field];
  const double number = value.is_number() ? value.get<double>() : -1.0;
  if (!value.is_number() || !(number >= low && number <= high))
    fail(where, std::string("\"") + field + "\" must be a number from " +
                    std::to_string(static_cast<long long>(low)) + " to " +
                    std::to_string(static_cast<long long>(high)));
  return number;
}

FanUnderLoadProfile parseFanUnderLoad(const json& entry, const std::vector<ProfileKey>& keys,
                                      const std::string& source) {
  const std::string where = source + ": fanUnderLoad";
  if (!entry.is_object()) fail(where, "must be an object");
  rejectUnknownFields(entry,
                      {"fan", "stuckRpm", "loadSecondsToRise", "peakRpm", "fallRpmPerSecond",
                       "idleRpm", "peakSeconds", "note"},
                      where);
  constexpr double kRpm = kFPE2Max;
  FanUnderLoadProfile model;
  model.fan = static_cast<int>(integerField(entry.value("fan", json(0)), 0, 9, where, "fan"));
  model.stuckRpm = numberField(entry, "stuckRpm", 0, kRpm, where);
  model.loadSecondsToRise = numberField(entry, "loadSecondsToRise", 0, 86400, where);
  model.peakRpm = numberField(entry, "peakRpm", 0, kRpm, where);
  model.fallRpmPerSecond = numberField(entry, "fallRpmPerSecond", 0, kRpm, where);
  model.idleRpm = numberField(entry, "idleRpm", 0, kRpm, where);
  if (entry.contains("peakSeconds"))
    model.peakSeconds = numberField(entry, "peakSeconds", 0, 86400, where);
  const FourCharCode speed = FanUnderLoad(model).speedKey();
  auto key =
      std::find_if(keys.begin(), keys.end(), [&](const ProfileKey& k) { return k.code == speed; });
  if (key == keys.end() || key->info != DataTypes::FPE2)
    fail(where, "fan " + std::to_string(model.fan) + " needs a key \"" +
                    fourCharCodeToString(speed) + "\" of type \"fpe2\" (2 bytes)");
  return model;
}

ProfileKey keyCountEntry(std::size_t count) {
  auto n = static_cast<std::uint32_t>(count);
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(n >> 24),
                                  static_cast<std::uint8_t>(n >> 16),
                                  static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
  ProfileKey key;
  key.code = "#KEY"_fcc;
  key.info = DataTypes::UI32;
  key.values = {bytes};
  return key;
}

}  // namespace

Profile parseProfile(const json& document, const std::string& source) {
  if (!document.is_object()) fail(source, "a profile must be a JSON object");
  rejectUnknownFields(document,
                      {"description", "keys", "service", "opensBeforeFailure", "notPrivileged",
                       "autoKeyCount", "fanUnderLoad"},
                      source);
  Profile profile;
  using S = Profile::Service;
  using P = Profile::Privilege;
  profile.service =
      choice<S>(document, "service", {{"absent", S::absent}, {"openFails", S::openFails}},
                S::present, source);
  if (document.contains("opensBeforeFailure")) {
    const json& opens = document["opensBeforeFailure"];
    if (!opens.is_number_unsigned() || opens.get<std::uint64_t>() > 0xFFFFFFFF)
      fail(source, "\"opensBeforeFailure\" must be a whole number of opens");
    profile.opensBeforeFailure = opens.get<std::uint32_t>();
  }
  profile.privilege =
      choice<P>(document, "notPrivileged",
                {{"all", P::deniedForAll}, {"writes", P::deniedForWrites}}, P::granted, source);
  if (!document.contains("keys") || !document["keys"].is_array())
    fail(source, "\"keys\" must be a list");
  std::map<FourCharCode, std::size_t> seen;
  const json& keys = document["keys"];
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::string where = source + ": keys[" + std::to_string(i) + "]";
    ProfileKey key = parseKey(keys[i], where);
    auto [at, inserted] = seen.emplace(key.code, i);
    if (!inserted)
      fail(where, "duplicate key \"" + fourCharCodeToString(key.code) + "\" (first at keys[" +
                      std::to_string(at->second) + "])");
    profile.keys.push_back(std::move(key));
  }
  bool autoKeyCount = true;
  if (document.contains("autoKeyCount")) {
    if (!document["autoKeyCount"].is_boolean())
      fail(source, "\"autoKeyCount\" must be true or false");
    autoKeyCount = document["autoKeyCount"].get<bool>();
  }
  if (autoKeyCount && !seen.contains("#KEY"_fcc))
    profile.keys.push_back(keyCountEntry(profile.keys.size() + 1));
  std::sort(profile.keys.begin(), profile.keys.end(),
            [](const ProfileKey& a, const ProfileKey& b) { return a.code < b.code; });
  if (document.contains("fanUnderLoad"))
    profile.fanUnderLoad = parseFanUnderLoad(document["fanUnderLoad"], profile.keys, source);
  return profile;
}

Profile parseProfileText(const std::string& text, const std::string& source) {
  std::string problem;
  auto document = files::parseJsonText(text, problem);
  if (!document) fail(source, problem);
  return parseProfile(*document, source);
}

Profile loadProfileFile(const std::filesystem::path& path) {
  std::string problem;
  auto text = files::readJsonFile(path, problem);
  if (!text) fail(path.string(), problem);
  return parseProfileText(*text, path.string());
}

}  // namespace ventra::smc::emulator
