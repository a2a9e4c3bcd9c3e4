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

// The platform's status: 0 for every road the app takes, non-zero for an internal error.
int applicationMain(int argc, char** argv) {
  return platform::desktop().applicationMain(argc, argv,
                                             [] { return std::make_shared<AppDelegate>(); });
}

}  // namespace ventra::app
