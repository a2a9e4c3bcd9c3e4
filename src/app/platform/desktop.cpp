#include "app/platform/desktop.h"

#include <stdexcept>

namespace ventra::app::platform {
namespace {

std::shared_ptr<DesktopPlatform>& installed() {
  static std::shared_ptr<DesktopPlatform> platform;
  return platform;
}

}  // namespace

void UserDefaults::registerDefaults(const std::map<std::string, DefaultValue>& defaults) {
  for (const auto& [key, value] : defaults) registered_[key] = value;
}

double UserDefaults::doubleForKey(const std::string& key) {
  auto value = stored_(key);
  if (!value) {
    auto registered = registered_.find(key);
    if (registered == registered_.end()) return 0.0;
    value = registered->second;
  }
  return std::visit([](auto number) { return static_cast<double>(number); }, *value);
}

std::shared_ptr<UserDefaults> DesktopPlatform::standardUserDefaults() {
  if (!standardDefaults_)
    standardDefaults_ = std::make_shared<UserDefaults>(
        [this](const std::string& key) { return storedDefault(key); });
  return standardDefaults_;
}

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
