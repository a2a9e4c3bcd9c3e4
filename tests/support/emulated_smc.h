#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "composition/emulated_smc.h"
#include "smc/param_struct.h"
#include "smc/smc_access.h"

namespace ventra::testing {

inline smc::emulator::Profile profileFromJson(const std::string& json) {
  return smc::emulator::parseProfileText(json, "test profile");
}

// An emulated SMC installed as the process's SMC, with the connection open for the fixture's life.
class EmulatedSMC {
 public:
  explicit EmulatedSMC(const std::string& json, bool open = true)
      : emulated_(emulatedSmc(profileFromJson(json))), installed_(emulated_.composition) {
    if (open) SMCAccess::openConnection();
  }
  ~EmulatedSMC() { SMCAccess::closeConnection(); }

  smc::emulator::SMCEmulator& smc() { return *emulated_.emulator; }
  std::vector<SMCParamStruct> requests() { return smc().history(); }
  // The keys of every request, as text, in order ("" for index requests).
  std::vector<std::string> requestedKeys() {
    std::vector<std::string> keys;
    for (const auto& r : requests())
      keys.push_back(r.key == 0 ? std::string() : fourCharCodeToString(r.key));
    return keys;
  }

 private:
  EmulatedSmc emulated_;
  ScopedComposition installed_;
};

// The SMCError an operation throws; a test failure (and a placeholder) when it throws none.
template <typename F>
SMCAccess::SMCError errorOf(F&& operation) {
  try {
    operation();
  } catch (const SMCAccess::SMCError& error) {
    return error;
  }
  ADD_FAILURE() << "no SMCError was thrown";
  return SMCAccess::SMCError::unknown(0, 0xFF);
}

// A request block as the core must send it: zero except the named fields.
inline SMCParamStruct::Raw expectedRequest(FourCharCode key, std::uint32_t dataSize,
                                           SMCParamStruct::Selector command,
                                           std::uint32_t index = 0) {
  SMCParamStruct block{};
  block.key = key;
  block.keyInfo.dataSize = dataSize;
  block.data8 = rawValue(command);
  block.data32 = index;
  return block.toRaw();
}

}  // namespace ventra::testing
