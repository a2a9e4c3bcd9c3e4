#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "smc/data_types.h"
#include "smc/platform/emulator/fan_under_load.h"

namespace ventra::smc::emulator {

// A profile that cannot be used; the message names the source, the entry and the problem.
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ProfileKey {
  FourCharCode code = 0;
  DataType info;
  // Successive reads return successive values; the last one repeats.
  std::vector<std::vector<std::uint8_t>> values;
  bool writable = false;
  std::uint8_t attributes = 0;
  std::optional<std::uint8_t> result;    // answer requests for this key with this byte
  std::optional<std::int32_t> ioReturn;  // fail calls for this key with this code
  // Which requests `result` and `ioReturn` answer: every one, or only reads of the value (the
  // key is listed and its information given as the profile says).
  enum class FailsOn { everyRequest, reads };
  FailsOn failsOn = FailsOn::everyRequest;
};

struct Profile {
  enum class Service { present, absent, openFails };
  enum class Privilege { granted, deniedForAll, deniedForWrites };

  Service service = Service::present;
  // The service opens this many times, then refuses every later open.
  std::optional<std::uint32_t> opensBeforeFailure;
  Privilege privilege = Privilege::granted;
  std::vector<ProfileKey> keys;  // ascending by code, "#KEY" included unless turned off
  // A fan whose speed answers GPU load instead of its key's bytes.
  std::optional<FanUnderLoadProfile> fanUnderLoad;
};

// `source` names where the JSON came from, for messages ("profiles/x.json", "scenario.json: smc").
Profile parseProfile(const nlohmann::json& document, const std::string& source);
Profile parseProfileText(const std::string& text, const std::string& source);
Profile loadProfileFile(const std::filesystem::path& path);

}  // namespace ventra::smc::emulator
