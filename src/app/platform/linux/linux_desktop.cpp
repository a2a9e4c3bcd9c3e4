#include "app/platform/linux/linux_desktop.h"
#include "files/small_files.h"

#include <glib-unix.h>
#include <glib.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>

#include "app/platform/linux/notifications.h"

namespace ventra::app::linux_desktop {
namespace pf = platform;

namespace {

// How long a quitting app waits for a slow notification server's answer, to close what it shows.
constexpr std::chrono::milliseconds kSettleLimit{2000};
// How long quitting waits for a modifier query stuck on a silent X server (host.cpp).
constexpr std::chrono::milliseconds kModifierQueryGrace{100};
// A local X server answers in well under a millisecond.
constexpr std::chrono::milliseconds kModifierQueryLimit{250};

class LinuxDesktop final : public pf::DesktopPlatform {
 public:
  LinuxDesktop(LinuxPaths paths, ModifierSource modifiers)
      : paths_(std::move(paths)),
        modifiers_(std::move(modifiers)),
        center_(freedesktopNotificationCenter(paths_.notificationState)) {}
  ~LinuxDesktop() override { cancelPending(); }

  int applicationMain(
      int argc, char** argv,
      const std::function<std::shared_ptr<pf::ApplicationDelegate>()>& create) override {
    for (int i = 1; i < argc; ++i)
      loginItem_ = loginItem_ || std::strcmp(argv[i], kLoginItemArgument) == 0;
    loop_.reset(g_main_loop_new(nullptr, FALSE));
    auto delegate = create();
    delegate_ = delegate.get();
    const guint watches[] = {g_unix_signal_add(SIGINT, &LinuxDesktop::onInterrupt, this),
                             g_unix_signal_add(SIGTERM, &LinuxDesktop::onTerminate, this)};
    launching_ = true;
    try {
      delegate->applicationDidFinishLaunching();
    } catch (const std::exception& error) {
      endWithInternalError(error);
    }
    launching_ = false;
    if (!terminated_) g_main_loop_run(loop_.get());
    for (guint watch : watches) g_source_remove(watch);
    delegate_ = nullptr;
    center_->settle(kSettleLimit);
    waitForModifierQueries(kModifierQueryGrace);
    return status_;
  }

  void terminate(pf::ApplicationDelegate& sender) override {
    if (terminated_) return;
    terminated_ = true;
    sender.applicationWillTerminate();
    cancelPending();  // nothing queued runs after the quit
    if (loop_) g_main_loop_quit(loop_.get());
  }

  // Read from the file at each call, so a change made after launch still counts; junk there is
  // said once per read and leaves the registered value in force.
  std::optional<pf::DefaultValue> storedDefault(const std::string& key) override {
    std::string problem;
    if (auto stored = readStoredNumber(paths_.defaultsFile, key, problem)) return *stored;
    if (!problem.empty()) std::cerr << "ventra: " << problem << "; using the default\n";
    return std::nullopt;
  }
  std::shared_ptr<pf::UserNotificationCenter> defaultUserNotificationCenter() override {
    return center_;
  }

  std::optional<pf::AppleEventDescriptor> currentAppleEvent() override {
    if (!launching_) return std::nullopt;
    pf::AppleEventDescriptor event{pf::kAEOpenApplication, {}};
    if (loginItem_) event.enumParameters[pf::keyAEPropData] = pf::keyAELaunchedAsLogInItem;
    return event;
  }

  std::uint64_t modifierFlags() override {
    return modifiers_ ? modifiers_() : queryModifierFlags(kModifierQueryLimit);
  }

  void asyncAfter(double seconds, std::function<void()> work) override;

  int sysctl(const int* name, unsigned nameLength, void* buffer, std::size_t* size, const void*,
             std::size_t) override {
    if (nameLength != 2 || name[0] != pf::CTL_HW || name[1] != pf::HW_MODEL) return -1;
    auto model = readProductName(paths_.productName);
    if (!model || model->size() + 1 > *size) return -1;
    std::memcpy(buffer, model->c_str(), model->size() + 1);
    *size = model->size() + 1;
    return 0;
  }

 private:
  struct Pending {
    LinuxDesktop* desktop;
    std::function<void()> work;
    guint source = 0;
  };
  static gboolean runPending(gpointer data);
  // Ctrl-C or SIGTERM (a logout, a service stopping): the app quits as it would, its alert
  // withdrawn, with the signal's status.
  static gboolean onInterrupt(gpointer self) {
    return static_cast<LinuxDesktop*>(self)->stopFor(SIGINT);
  }
  static gboolean onTerminate(gpointer self) {
    return static_cast<LinuxDesktop*>(self)->stopFor(SIGTERM);
  }
  gboolean stopFor(int signal) {
    if (!terminated_) status_ = 128 + signal;
    center_->removeAllDeliveredNotifications();
    if (delegate_) terminate(*delegate_);
    return G_SOURCE_CONTINUE;
  }
  void endWithInternalError(const std::exception& error);
  void cancelPending() {
    auto sources = std::move(pending_);
    for (guint source : sources) g_source_remove(source);
  }

  LinuxPaths paths_;
  ModifierSource modifiers_;
  std::shared_ptr<FreedesktopNotificationCenter> center_;
  std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop_{nullptr, g_main_loop_unref};
  pf::ApplicationDelegate* delegate_ = nullptr;  // while the app runs
  bool loginItem_ = false;
  bool launching_ = false;
  bool terminated_ = false;
  int status_ = 0;
  std::set<guint> pending_;  // timeout sources not yet run
};

// Milliseconds on GLib's monotonic clock, rounded up so the work never runs before its deadline.
void LinuxDesktop::asyncAfter(double seconds, std::function<void()> work) {
  double ms = std::ceil(std::max(0.0, seconds) * 1000.0);
  guint interval = ms >= static_cast<double>(G_MAXUINT) ? G_MAXUINT : static_cast<guint>(ms);
  if (terminated_) return;  // the process is ending: nothing more will run
  auto* pending = new Pending{this, std::move(work)};
  pending->source =
      g_timeout_add_full(G_PRIORITY_DEFAULT, interval, &LinuxDesktop::runPending, pending,
                         [](gpointer data) { delete static_cast<Pending*>(data); });
  pending_.insert(pending->source);
}

// Exceptions must not cross GLib's C frames: one that escapes the app ends it with a message.
gboolean LinuxDesktop::runPending(gpointer data) {
  auto* pending = static_cast<Pending*>(data);
  LinuxDesktop& desktop = *pending->desktop;
  desktop.pending_.erase(pending->source);
  try {
    pending->work();
  } catch (const std::exception& error) {
    desktop.endWithInternalError(error);
  }
  return G_SOURCE_REMOVE;
}

// An exception that escapes the app, at launch or in scheduled work: one line, status 1.
void LinuxDesktop::endWithInternalError(const std::exception& error) {
  std::cerr << "ventra: internal error: " << error.what() << "\n";
  status_ = 1;
  terminated_ = true;
  cancelPending();
  g_main_loop_quit(loop_.get());
}

}  // namespace

std::shared_ptr<pf::DesktopPlatform> makeLinuxDesktop(LinuxPaths paths, ModifierSource modifiers) {
  if (paths.defaultsFile.empty()) paths.defaultsFile = userDefaultsFile();
  // Only in the per-boot runtime directory: ids kept across a reboot would name other programs'
  // notifications. GLib falls back to the cache directory without it, so it is read here.
  if (paths.notificationState.empty())
    if (auto runtime = files::userRuntimeDirectory(); !runtime.empty())
      paths.notificationState = runtime / "ventra/delivered";
  return std::make_shared<LinuxDesktop>(std::move(paths), std::move(modifiers));
}

}  // namespace ventra::app::linux_desktop
