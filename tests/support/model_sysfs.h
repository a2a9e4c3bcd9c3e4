#pragma once

// The driver model behind the backend's file seam, for a caller that is root or not: files the
// driver creates 0444 refuse writes to anyone, 0644 ones to all but root, as the kernel does.

#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "smc/platform/linux/applesmc.h"
#include "support/applesmc_model.h"

namespace ventra::testing {

class ModelSysfs final : public smc::linux_backend::Sysfs {
 public:
  ModelSysfs(std::shared_ptr<ApplesmcModel> model, bool root, std::string directory = "")
      : model_(std::move(model)), root_(root), directory_(std::move(directory)) {}

  int read(const std::string& name, std::string& out) override {
    auto file = inDirectory(name);
    return file ? model_->show(*file, out) : ENOENT;
  }
  int write(const std::string& name, const std::string& text) override {
    auto file = inDirectory(name);
    if (!file || !model_->mode(*file)) return ENOENT;
    if (!root_) return EACCES;
    return model_->store(*file, text);
  }
  bool exists(const std::string& name) override {
    auto file = inDirectory(name);
    return file && model_->mode(*file).has_value();
  }
  std::vector<std::string> list(const std::string& name) override {
    if (directory_.empty() || name != "hwmon") return {};
    return {"hwmon0"};
  }
  void becomeRoot(bool root) { root_ = root; }

 private:
  // With a directory, the attributes sit there ("hwmon/hwmon0/") and only key_* at the top.
  std::optional<std::string> inDirectory(const std::string& name) const {
    auto keyFile = [](const std::string& file) {
      return file.rfind("key_", 0) == 0 || file == "name";
    };
    if (directory_.empty()) return name;
    if (name.rfind(directory_, 0) == 0) {
      std::string rest = name.substr(directory_.size());
      return keyFile(rest) ? std::nullopt : std::optional(rest);
    }
    return keyFile(name) ? std::optional(name) : std::nullopt;
  }

  std::shared_ptr<ApplesmcModel> model_;
  bool root_;
  std::string directory_;
};

}  // namespace ventra::testing
