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
  std::optional<SMCAccess::SMCError> ignored;
  return probeFanSpeed(ignored);
}

std::int64_t probeFanSpeed(std::optional<SMCAccess::SMCError>& failure) {
  failure.reset();
  try {
    SMCAccess::openConnection();
  } catch (const SMCAccess::SMCError& error) {
    failure = error;
    return 0;
  }
  std::int64_t speed = 0;
  try {
    speed = SMCAccess::fanCurrentSpeed(0);
  } catch (const SMCAccess::SMCError& error) {
    failure = error;
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

bool passes(Eligibility::Test test, const Eligibility& found) {
  switch (test) {
    case Eligibility::Test::hostModel:
      return found.hostModel == kAcceptedHostModel;
    case Eligibility::Test::gpuPresent:
      return found.gpuCount.value_or(0) > 0;
    case Eligibility::Test::gpuIdentity:
      return found.gpuIdentity == kAcceptedGPUIdentity;
    case Eligibility::Test::firstProbe:
      return found.firstProbe.value_or(0) != 0;
    case Eligibility::Test::secondProbe:
      return found.secondProbe.value_or(0) > kFanSpeedLimit;
  }
  return false;
}

namespace {

// Asks for the value `test` judges; the identity only where there is a device to name.
void measure(Eligibility::Test test, Eligibility& result) {
  switch (test) {
    case Eligibility::Test::hostModel:
      result.hostModel = readHostModel();
      break;
    case Eligibility::Test::gpuPresent:
      result.gpuCount = gpu::platform::MTLCopyAllDevices().size();
      break;
    case Eligibility::Test::gpuIdentity:
      if (result.gpuCount.value_or(0) > 0) result.gpuIdentity = gpuIdentity();
      break;
    case Eligibility::Test::firstProbe:
      result.firstProbe = probeFanSpeed(result.firstProbeFailure);
      break;
    case Eligibility::Test::secondProbe:
      result.secondProbe = probeFanSpeed(result.secondProbeFailure);
      break;
  }
}

}  // namespace

// The first test that fails ends the check and nothing after it is asked.
Eligibility checkEligibility() {
  Eligibility result;
  for (auto test : kTestsInOrder) {
    measure(test, result);
    if (!passes(test, result)) return result.failing(test);
  }
  return result;
}

Eligibility checkEveryTest() {
  Eligibility result;
  for (auto test : kTestsInOrder) measure(test, result);
  for (auto test : kTestsInOrder)
    if (!passes(test, result)) return result.failing(test);
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
