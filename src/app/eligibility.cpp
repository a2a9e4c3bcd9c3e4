#include <cmath>
#include <cstring>

#include "app/controller.h"
#include "gpu/gpu_identity.h"
#include "gpu/platform/metal.h"
#include "sensors/fans.h"
#include "smc/smckit.h"

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
    SMCKit::openConnection();
  } catch (const SMCKit::SMCError&) {
    return 0;
  }
  std::int64_t speed = 0;
  try {
    speed = SMCKit::fanCurrentSpeed(0);
  } catch (const SMCKit::SMCError&) {
    speed = 0;
  }
  SMCKit::closeConnection();
  return speed;
}

double loginDelaySeconds(double stored) {
  if (!std::isfinite(stored)) return 0.0;
  return std::min(std::fabs(stored), kMaxLoginDelaySeconds);
}

void runEligibilityCheck(const std::shared_ptr<AppDelegate>& delegate, bool loginItem,
                         const std::shared_ptr<platform::UserDefaults>& defaults) {
  auto& desktop = platform::desktop();
  auto quit = [&] { desktop.terminate(*delegate); };
  if (readHostModel() != kAcceptedHostModel) return quit();
  if (gpu::platform::MTLCopyAllDevices().empty()) return quit();
  if (gpuIdentity() != kAcceptedGPUIdentity) return quit();
  if (probeFanSpeed() == 0) return quit();
  if (probeFanSpeed() <= kFanSpeedLimit) return quit();
  double delay = loginItem ? loginDelaySeconds(defaults->doubleForKey(kDelayAtLogin)) : 0.0;
  desktop.asyncAfter(delay, [delegate] { showFanAlert(false, delegate); });
}

}  // namespace ventra::app
