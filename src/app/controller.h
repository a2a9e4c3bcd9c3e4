#pragma once

// The launch decisions, the eligibility check with its fan probe, and the alert.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/app_delegate.h"
#include "smc/smc_error.h"

namespace ventra::app {

inline constexpr double kCheckDelaySeconds = 1.0;
inline constexpr double kAlertTimeoutSeconds = 9.0;
inline constexpr std::int64_t kFanSpeedLimit = 1000;
inline constexpr std::int64_t kResetMatrixSize = 16384;
inline constexpr char kAcceptedHostModel[] = "MacPro5,1";
inline constexpr char kAcceptedGPUIdentity[] = "AMD Radeon RX 580 8 GB";
inline constexpr char kDelayAtLogin[] = "DelayAtLogin";

// What a desktop must know of the app: an alert outlives the app's own wait on it by a little,
// so the desktop never expires one the app still waits on.
inline platform::DesktopRules desktopRules() {
  return {kAlertTimeoutSeconds + 3.0};
}

void handleLaunch(const std::shared_ptr<AppDelegate>& delegate);
bool isLoginItemLaunch(const std::optional<platform::AppleEventDescriptor>& event);
bool isForcedMode(std::uint64_t modifierFlags);

// What the check found, as far as it got.
struct Eligibility {
  enum class Test { hostModel, gpuPresent, gpuIdentity, firstProbe, secondProbe };
  std::optional<Test> failed;  // the first test that failed; nothing when the alert is due
  std::string hostModel;
  std::optional<std::size_t> gpuCount;
  std::optional<std::string> gpuIdentity;
  std::optional<std::int64_t> firstProbe, secondProbe;
  // Why a probe read nothing: the app counts that as 0 rpm; diagnostics say why.
  std::optional<SMCAccess::SMCError> firstProbeFailure, secondProbeFailure;

  Eligibility& failing(Test test) {
    failed = test;
    return *this;
  }
};

inline constexpr Eligibility::Test kTestsInOrder[] = {
    Eligibility::Test::hostModel, Eligibility::Test::gpuPresent, Eligibility::Test::gpuIdentity,
    Eligibility::Test::firstProbe, Eligibility::Test::secondProbe};

// The app's check: the tests in order, each asked only when those before it passed.
Eligibility checkEligibility();
// Every test asked whatever the others found, for a person who wants to see all that stands in
// the way; `failed` is the first failing in the app's order, so the verdict is the app's.
Eligibility checkEveryTest();
// Whether `test` passes on what `found` holds; a value not asked for fails.
bool passes(Eligibility::Test test, const Eligibility& found);
const char* testName(Eligibility::Test test);

void runEligibilityCheck(const std::shared_ptr<AppDelegate>& delegate, bool loginItem,
                         const std::shared_ptr<platform::UserDefaults>& defaults);
std::string readHostModel();
std::int64_t probeFanSpeed();
// The same probe, keeping the error that made it read nothing.
std::int64_t probeFanSpeed(std::optional<SMCAccess::SMCError>& failure);
// The stored delay as seconds to wait: its absolute value; not a finite number counts as 0, and
// more than the longest delay a main queue holds (kLongestDelaySeconds, 49.7 days) as that, so
// a bad value can neither hang nor crash the scheduler.
double loginDelaySeconds(double stored);

void showFanAlert(bool forced, const std::shared_ptr<AppDelegate>& delegate);
void handleAlertTimeout(const std::shared_ptr<platform::UserNotification>& notification,
                        const std::shared_ptr<AppDelegate>& delegate);

}  // namespace ventra::app
