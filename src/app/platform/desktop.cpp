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
  if (!installed()) throw std::logic_error("no desktop platform installed");
  return *installed();
}

void installDesktopPlatform(std::shared_ptr<DesktopPlatform> platform) {
  installed() = std::move(platform);
}

ScopedDesktopPlatform::ScopedDesktopPlatform(std::shared_ptr<DesktopPlatform> platform)
    : previous_(installed()) {
  installDesktopPlatform(std::move(platform));
}

ScopedDesktopPlatform::~ScopedDesktopPlatform() {
  installDesktopPlatform(std::move(previous_));
}

}  // namespace ventra::app::platform
