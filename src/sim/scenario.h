#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/platform/desktop.h"
#include "gpu/platform/fake/fake_gpu.h"
#include "smc/platform/emulator/profile.h"

namespace ventra::sim {

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the simulated user does with the notification, and when (seconds after delivery).
struct Answer {
  enum class Action { reset, cancel, click, none };
  Action action = Action::none;
  double after = 0.0;
};

// A scripted host: everything the desktop, the SMC and the GPU will say during one run.
struct Scenario {
  std::string description;
  std::optional<std::string> hostModel;  // nothing: the model cannot be read
  std::vector<gpu::fake::DeviceDescription> gpus;
  smc::emulator::Profile smc;
  std::uint64_t modifierFlags = 0;
  bool loginItem = false;
  std::map<std::string, app::platform::DefaultValue> defaults;  // stored by the user
  Answer answer;
  bool leftoverNotification = false;
};

// `baseDirectory` resolves {"profile": "relative/path"} for the SMC.
Scenario parseScenario(const nlohmann::json& document, const std::string& source,
                       const std::filesystem::path& baseDirectory);
Scenario loadScenarioFile(const std::filesystem::path& path);

const char* actionName(Answer::Action action);

}  // namespace ventra::sim
