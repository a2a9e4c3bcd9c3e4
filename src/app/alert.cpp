#include "app/controller.h"
#include "gpu/gpu_load.h"

namespace ventra::app {

void showFanAlert(bool forced, const std::shared_ptr<AppDelegate>& delegate) {
  auto notification = std::make_shared<platform::UserNotification>();
  notification->title = forced ? "Forced Mode" : "High Fan Speed Detected";
  notification->informativeText = "Ventra will try to reset the fans.";
  notification->soundName = platform::NSUserNotificationDefaultSoundName;
  notification->hasActionButton = true;
  notification->otherButtonTitle = "Reset";
  notification->actionButtonTitle = "Cancel";
  notification->values["_showsButtons"] = true;
  auto& desktop = platform::desktop();
  auto center = desktop.defaultUserNotificationCenter();
  center->deliverNotification(notification);
  center->setDelegate(delegate);
  desktop.asyncAfter(kAlertTimeoutSeconds,
                     [notification, delegate] { handleAlertTimeout(notification, delegate); });
}

void handleAlertTimeout(const std::shared_ptr<platform::UserNotification>& notification,
                        const std::shared_ptr<AppDelegate>& delegate) {
  auto& desktop = platform::desktop();
  desktop.defaultUserNotificationCenter()->removeDeliveredNotification(notification);
  runGPULoad(kResetMatrixSize);
  desktop.terminate(*delegate);
}

}  // namespace ventra::app
