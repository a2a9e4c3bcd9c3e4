// Scenarios come from users: any bytes must give a scenario or an error with a message.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "app/platform/sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ventra;
  auto document = nlohmann::json::parse(data, data + size, nullptr, false);
  if (document.is_discarded()) return 0;
  try {
    app::sim::parseScenario(document, "fuzz", "/nonexistent");
  } catch (const app::sim::ScenarioError&) {
  } catch (const smc::emulator::ProfileError&) {
  }
  return 0;
}
