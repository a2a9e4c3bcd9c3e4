#include "app/controller.h"
#include "gpu/platform/metal.h"

namespace ventra::app {
bool isLoginItemLaunch(const std::optional<platform::AppleEventDescriptor>& event) {
  if (!event || event->eventID != platform::kAEOpenApplication) return false;
  auto launchedAs = event->paramDescriptorForKeyword(platform::keyAEPropData);
  return launchedAs && *launchedAs == platform::keyAELaunchedAsLogInItem;
}

bool isForcedMode(std::uint64_t modifierFlags) {
  return (modifierFlags & platform::NSEventModifierFlagDeviceIndependentFlagsMask) ==
         platform::NSEventModifierFlagCommand;
}

void handleLaunch(const std::shared_ptr<AppDelegate>& delegate) {
  auto& desktop = platform::desktop();
  auto defaults = desktop.standardUserDefaults();
  defaults->registerDefaults({{kDelayAtLogin, std::int64_t{0}}});
  bool loginItem = isLoginItemLaunch(desktop.currentAppleEvent());
  desktop.defaultUserNotificationCenter()->removeAllDeliveredNotifications();
  if (!isForcedMode(desktop.modifierFlags())) {
    desktop.asyncAfter(kCheckDelaySeconds, [delegate, loginItem, defaults] {
      runEligibilityCheck(delegate, loginItem, defaults);
    });
    return;
  }
  if (!gpu::platform::MTLCopyAllDevices().empty()) {
    desktop.asyncAfter(kCheckDelaySeconds, [delegate] { showFanAlert(true, delegate); });
    return;
  }
  // Forced mode without a GPU has nothing left to do; staying resident would help nobody.
  desktop.terminate(*delegate);
}

}  // namespace ventra::app
