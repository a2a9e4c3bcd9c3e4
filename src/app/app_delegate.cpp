#include "app/app_delegate.h"

#include "app/controller.h"
#include "gpu/gpu_load.h"

namespace ventra::app {

void AppDelegate::applicationDidFinishLaunching() {
  handleLaunch(shared_from_this());
}

void AppDelegate::applicationWillTerminate() {}

void AppDelegate::userNotificationCenterDidActivateNotification(
    platform::UserNotificationCenter&, const std::shared_ptr<platform::UserNotification>&) {
  platform::desktop().terminate(*this);
}

void AppDelegate::userNotificationCenterDidDismissAlert(
    platform::UserNotificationCenter&, const std::shared_ptr<platform::UserNotification>&) {
  runGPULoad(kResetMatrixSize);
  platform::desktop().terminate(*this);
}

int applicationMain(int argc, char** argv) {
  platform::desktop().applicationMain(argc, argv, [] { return std::make_shared<AppDelegate>(); });
  return 0;
}

}  // namespace ventra::app
