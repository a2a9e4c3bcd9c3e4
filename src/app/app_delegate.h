#pragma once

#include <memory>

#include "app/platform/desktop.h"

namespace ventra::app {

// The one application delegate: launch, terminate and the two notification-centre callbacks.
// It holds no state; a run's state lives in what the scheduled closures capture.
class AppDelegate : public platform::ApplicationDelegate,
                    public platform::UserNotificationCenterDelegate,
                    public std::enable_shared_from_this<AppDelegate> {
 public:
  void applicationDidFinishLaunching() override;
  void applicationWillTerminate() override;
  void userNotificationCenterDidActivateNotification(
      platform::UserNotificationCenter& center,
      const std::shared_ptr<platform::UserNotification>& notification) override;
  void userNotificationCenterDidDismissAlert(
      platform::UserNotificationCenter& center,
      const std::shared_ptr<platform::UserNotification>& notification) override;
};

// The process entry: hands the arguments to the platform's application start-up.
int applicationMain(int argc, char** argv);

}  // namespace ventra::app
