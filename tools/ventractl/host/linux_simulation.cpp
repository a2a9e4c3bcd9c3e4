#include "host/host.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app_delegate.h"
#include "app/platform/linux/linux_desktop.h"
#include "files/small_files.h"
#include "kit/context.h"
#include "sim/simulated_host.h"

namespace ventra::ctl {
namespace {
namespace fs = std::filesystem;
namespace pf = app::platform;

// The host's files for the real backend to read: the model and the stored default.
class ScriptedHostFiles {
 public:
  explicit ScriptedHostFiles(const sim::Scenario& scenario) {
    std::string pattern = (fs::temp_directory_path() / "ventra-host-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
      throw CommandError("cannot make a directory for the scripted host in " + pattern + ": " +
                         std::strerror(errno));
    root_ = pattern;
    if (scenario.hostModel) write(productName(), *scenario.hostModel + "\n");
    std::string defaults = "[Ventra]\n";
    for (const auto& [key, value] : scenario.defaults)
      std::visit([&, k = key](auto v) { defaults += k + "=" + number(v) + "\n"; }, value);
    write(defaultsFile(), defaults);
  }
  ~ScriptedHostFiles() {
    std::error_code error;
    fs::remove_all(root_, error);
  }
  ScriptedHostFiles(const ScriptedHostFiles&) = delete;
  ScriptedHostFiles& operator=(const ScriptedHostFiles&) = delete;

  fs::path productName() const { return root_ / "product_name"; }
  fs::path defaultsFile() const { return root_ / "defaults.ini"; }
  fs::path notificationState() const { return root_ / "delivered"; }

 private:
  // The app reads these as the host's own files: one that is not written whole would be a
  // different host, so it ends the command.
  void write(const fs::path& file, const std::string& text) {
    if (int error = files::replaceFile(file, text)) {
      std::error_code ignored;
      fs::remove_all(root_, ignored);
      throw CommandError("cannot write the scripted host's " + file.filename().string() + " in " +
                         root_.string() + ": " + std::strerror(error));
    }
  }
  template <typename T>
  static std::string number(T value) {
    std::ostringstream text;
    text.precision(17);
    text << value;  // "nan" and "inf" read back as themselves
    return text.str();
  }
  fs::path root_;
};

void noteIgnoredParts(const sim::Scenario& scenario, std::ostream& notes) {
  if (scenario.answer.action != sim::Answer::Action::none)
    notes << "ventractl: the scenario's answer (" << sim::actionName(scenario.answer.action)
          << ") is ignored on the Linux desktop: the notification server's user answers\n";
  if (scenario.leftoverNotification)
    notes << "ventractl: the scenario's leftover notification is not shown on the Linux desktop\n";
}

}  // namespace

int runOnLinuxDesktop(const sim::Scenario& scenario, sim::Trace& trace, std::ostream& notes,
                      std::shared_ptr<gpu::platform::GPUPlatform> gpu) {
  noteIgnoredParts(scenario, notes);
  const auto launched = std::chrono::steady_clock::now();
  trace.useClock([launched] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - launched).count();
  });
  ScriptedHostFiles files(scenario);
  auto real = app::linux_desktop::makeLinuxDesktop(
      {files.productName(), files.defaultsFile(), files.notificationState()},
      [flags = scenario.modifierFlags] { return flags; });
  ScopedComposition installed(sim::simulatedHost(scenario, trace, std::move(real), std::move(gpu)));
  char program[] = "ventra";
  char loginHint[sizeof app::linux_desktop::kLoginItemArgument];
  std::copy(std::begin(app::linux_desktop::kLoginItemArgument),
            std::end(app::linux_desktop::kLoginItemArgument), loginHint);
  char* argv[] = {program, loginHint, nullptr};
  return app::applicationMain(scenario.loginItem ? 2 : 1, argv);
}

}  // namespace ventra::ctl
