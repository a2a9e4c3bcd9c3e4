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

// GLib hears SIGINT and SIGTERM in its own handler and tells the main queue later; one that comes
// while the app holds the main queue (its GPU load) would reach it only after the app had ended.
// Beside GLib's handler, which stays in charge, this notes which came, so the ending can say so.
constexpr int kStopSignals[] = {SIGINT, SIGTERM};
volatile std::sig_atomic_t noted = 0;
struct sigaction glibHandlers[2];

void noteThenPassOn(int signal, siginfo_t* info, void* context) {
  noted = signal;
  const struct sigaction& glib = glibHandlers[signal == SIGINT ? 0 : 1];
  if (glib.sa_flags & SA_SIGINFO)
    glib.sa_sigaction(signal, info, context);
  else if (glib.sa_handler != SIG_DFL && glib.sa_handler != SIG_IGN)
    glib.sa_handler(signal);
}

// After g_unix_signal_add has put GLib's handlers in place.
void noteStopSignals() {
  noted = 0;
  for (int i = 0; i < 2; ++i) {
    sigaction(kStopSignals[i], nullptr, &glibHandlers[i]);
    struct sigaction mine = glibHandlers[i];
    mine.sa_sigaction = &noteThenPassOn;
    mine.sa_flags |= SA_SIGINFO;
    sigaction(kStopSignals[i], &mine, nullptr);
  }
}

// The main queue is GLib's default main context; notifications go over the session bus.
class LinuxDesktop final : public pf::DesktopBackend {
 public:
  LinuxDesktop(LinuxPaths paths, ModifierSource modifiers, SettingProblems problems)
      : paths_(std::move(paths)),
        modifiers_(std::move(modifiers)),
        problems_(std::move(problems)),
        center_(freedesktopNotificationCenter(paths_.notificationState)) {}
  ~LinuxDesktop() override { cancelPending(); }

  void runUntilQuit(const std::function<void(int)>& stop) override {
    loop_.reset(g_main_loop_new(nullptr, FALSE));
    stop_ = &stop;
    const guint watches[] = {g_unix_signal_add(SIGINT, &LinuxDesktop::onInterrupt, this),
                             g_unix_signal_add(SIGTERM, &LinuxDesktop::onTerminate, this)};
    noteStopSignals();
    if (!quit_) g_main_loop_run(loop_.get());
    // A signal that came while the app was busy in a callback (its GPU load), not yet told.
    if (noted && !stopped_) stopFor(noted);
    for (guint watch : watches) g_source_remove(watch);
    stop_ = nullptr;
    center_->settle(kSettleLimit);
    waitForModifierQueries(kModifierQueryGrace);
  }

  void quit() override {
    quit_ = true;
    cancelPending();  // nothing queued runs after the quit
    if (loop_) g_main_loop_quit(loop_.get());
  }

  void runAfter(double seconds, std::function<void()> work) override;

  std::optional<std::string> hostModel() override { return readProductName(paths_.productName); }

  bool launchedAsLoginItem(int argc, char** argv) override {
    for (int i = 1; i < argc; ++i)
      if (std::strcmp(argv[i], kLoginItemArgument) == 0) return true;
    return false;
  }

  std::uint64_t modifierFlags() override {
    return modifiers_ ? modifiers_() : queryModifierFlags(kModifierQueryLimit);
  }

  // Read from the file at each call, so a change made after launch still counts; junk there
  // leaves the registered value in force, and is told to whoever asked to hear of it.
  std::optional<pf::DefaultValue> storedDefault(const std::string& key) override {
    std::string problem;
    if (auto stored = readStoredNumber(paths_.defaultsFile, key, problem)) return *stored;
    if (!problem.empty() && problems_) problems_(problem);
    return std::nullopt;
  }

  pf::NotificationId show(const pf::UserNotification& content, double expirySeconds,
                          std::function<void(pf::UserAnswer)> answered) override {
    return center_->show(content, expirySeconds, std::move(answered));
  }
  void withdraw(std::optional<pf::NotificationId> which) override { center_->withdraw(which); }

 private:
  struct Pending {
    LinuxDesktop* desktop;
    std::function<void()> work;
    guint source = 0;
  };
  static gboolean runPending(gpointer data);
  // Ctrl-C or SIGTERM (a logout, a service stopping).
  static gboolean onInterrupt(gpointer self) {
    return static_cast<LinuxDesktop*>(self)->stopFor(SIGINT);
  }
  static gboolean onTerminate(gpointer self) {
    return static_cast<LinuxDesktop*>(self)->stopFor(SIGTERM);
  }
  gboolean stopFor(int signal) {
    stopped_ = true;
    if (stop_) (*stop_)(128 + signal);
    return G_SOURCE_CONTINUE;
  }
  void cancelPending() {
    auto sources = std::move(pending_);
    for (guint source : sources) g_source_remove(source);
  }

  LinuxPaths paths_;
  ModifierSource modifiers_;
  SettingProblems problems_;
  bool stopped_ = false;  // a stop signal has been told to the app
  std::shared_ptr<FreedesktopNotificationCenter> center_;
  std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop_{nullptr, g_main_loop_unref};
  const std::function<void(int)>* stop_ = nullptr;  // while the main queue runs
  bool quit_ = false;
  std::set<guint> pending_;  // timeout sources not yet run
};

// Milliseconds on GLib's monotonic clock, rounded up so the work never runs before its deadline.
void LinuxDesktop::runAfter(double seconds, std::function<void()> work) {
  double ms = std::ceil(std::max(0.0, seconds) * 1000.0);
  guint interval = ms >= static_cast<double>(G_MAXUINT) ? G_MAXUINT : static_cast<guint>(ms);
  if (quit_) return;  // the process is ending: nothing more will run
  auto* pending = new Pending{this, std::move(work)};
  pending->source =
      g_timeout_add_full(G_PRIORITY_DEFAULT, interval, &LinuxDesktop::runPending, pending,
                         [](gpointer data) { delete static_cast<Pending*>(data); });
  pending_.insert(pending->source);
}

// The desktop runs the work under its own rule for exceptions: none reaches GLib's C frames.
gboolean LinuxDesktop::runPending(gpointer data) {
  auto* pending = static_cast<Pending*>(data);
  pending->desktop->pending_.erase(pending->source);
  pending->work();
  return G_SOURCE_REMOVE;
}

}  // namespace

std::shared_ptr<pf::DesktopBackend> makeLinuxDesktop(LinuxPaths paths, ModifierSource modifiers,
                                                     SettingProblems problems) {
  if (paths.defaultsFile.empty()) paths.defaultsFile = userDefaultsFile();
  // Only in the per-boot runtime directory: ids kept across a reboot would name other programs'
  // notifications. GLib falls back to the cache directory without it, so it is read here.
  if (paths.notificationState.empty())
    if (auto runtime = files::userRuntimeDirectory(); !runtime.empty())
      paths.notificationState = runtime / "ventra/delivered";
  return std::make_shared<LinuxDesktop>(std::move(paths), std::move(modifiers),
                                        std::move(problems));
}

}  // namespace ventra::app::linux_desktop
