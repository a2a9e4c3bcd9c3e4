// Scenarios come from users: any bytes must give a scenario or an error with a message.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "files/json_text.h"
#include "sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ventra;
  std::string problem;
  auto document =
      files::parseJsonText(std::string(reinterpret_cast<const char*>(data), size), problem);
  if (!document) return 0;
  try {
    sim::parseScenario(*document, "fuzz", "/nonexistent");
  } catch (const sim::ScenarioError&) {
  } catch (const smc::emulator::ProfileError&) {
  }
  return 0;
}
