#include "app/platform/desktop.h"

#include <stdexcept>

namespace ventra::app::platform {
namespace {

std::shared_ptr<DesktopPlatform>& installed() {
  static std::shared_ptr<DesktopPlatform> platform;
  return platform;
}

}  // namespace

DesktopPlatform& desktop() {
  if (!installed()) throw std::logic_error("this process was composed without a desktop");
  return *installed();
}

void installDesktopPlatform(std::shared_ptr<DesktopPlatform> platform) {
  installed() = std::move(platform);
}

std::shared_ptr<DesktopPlatform> installedDesktopPlatform() {
  return installed();
}

}  // namespace ventra::app::platform
