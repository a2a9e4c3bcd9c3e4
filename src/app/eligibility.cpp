#include <cmath>
#include <cstring>

#include "app/controller.h"
#include "gpu/gpu_identity.h"
#include "gpu/platform/metal.h"
#include "sensors/fans.h"
#include "smc/smc_access.h"

namespace ventra::app {

std::string readHostModel() {
  char buffer[128] = {};
  std::size_t size = sizeof buffer;
  const int name[] = {platform::CTL_HW, platform::HW_MODEL};
  if (platform::desktop().sysctl(name, 2, buffer, &size, nullptr, 0) != 0) return {};
  return std::string(buffer, strnlen(buffer, sizeof buffer));
}

// A connection that cannot be opened, or a read that fails, counts as 0 rpm. The connection is
// closed whenever it was opened.
std::int64_t probeFanSpeed() {
  try {
    SMCAccess::openConnection();
  } catch (const SMCAccess::SMCError&) {
    return 0;
  }
  std::int64_t speed = 0;
  try {
    speed = SMCAccess::fanCurrentSpeed(0);
  } catch (const SMCAccess::SMCError&) {
    speed = 0;
  }
  SMCAccess::closeConnection();
  return speed;
}

double loginDelaySeconds(double stored) {
  if (!std::isfinite(stored)) return 0.0;
  // Any finite delay is honoured; only one too long for the main queue's clock is shortened.
  return std::min(std::fabs(stored), platform::kLongestDelaySeconds);
}

// The tests in their order; the first that fails ends the check and nothing after it is asked.
Eligibility checkEligibility() {
  Eligibility result;
  result.hostModel = readHostModel();
  if (result.hostModel != kAcceptedHostModel) return result.failing(Eligibility::Test::hostModel);
  result.gpuCount = gpu::platform::MTLCopyAllDevices().size();
  if (result.gpuCount == 0) return result.failing(Eligibility::Test::gpuPresent);
  result.gpuIdentity = gpuIdentity();
  if (result.gpuIdentity != kAcceptedGPUIdentity)
    return result.failing(Eligibility::Test::gpuIdentity);
  result.firstProbe = probeFanSpeed();
  if (result.firstProbe == 0) return result.failing(Eligibility::Test::firstProbe);
  result.secondProbe = probeFanSpeed();
  if (result.secondProbe <= kFanSpeedLimit) return result.failing(Eligibility::Test::secondProbe);
  return result;
}

void runEligibilityCheck(const std::shared_ptr<AppDelegate>& delegate, bool loginItem,
                         const std::shared_ptr<platform::UserDefaults>& defaults) {
  auto& desktop = platform::desktop();
  if (checkEligibility().failed) return desktop.terminate(*delegate);
  double delay = loginItem ? loginDelaySeconds(defaults->doubleForKey(kDelayAtLogin)) : 0.0;
  desktop.asyncAfter(delay, [delegate] { showFanAlert(false, delegate); });
}

const char* testName(Eligibility::Test test) {
  switch (test) {
    case Eligibility::Test::hostModel:
      return "host model";
    case Eligibility::Test::gpuPresent:
      return "GPU present";
    case Eligibility::Test::gpuIdentity:
      return "GPU identity";
    case Eligibility::Test::firstProbe:
      return "first fan probe";
    case Eligibility::Test::secondProbe:
      return "second fan probe";
  }
  return "?";
}

}  // namespace ventra::app
