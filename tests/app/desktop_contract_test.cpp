// The desktop port's contract: the same cases on every desktop backend, the simulated one on its
// virtual clock and the Linux one (a GLib main loop, a notification server on a private session
// bus, the defaults file, the DMI product name).
#include <gio/gio.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/platform/desktop.h"
#include "app/platform/linux/linux_desktop.h"
#include "sim/sim_desktop.h"
#include "support/fake_notification_server.h"

namespace ventra {
namespace {
namespace pf = app::platform;
namespace fs = std::filesystem;

// The world a desktop runs in: what the host says and what its user does.
struct World {
  std::string model = "MacPro5,1";
  std::map<std::string, pf::DefaultValue> stored;  // the user's own defaults
  bool loginItem = false;
  std::uint64_t modifiers = 0;
  sim::Answer::Action answer = sim::Answer::Action::none;  // to each alert, 0.2 s after it shows
};

constexpr double kAnswerSeconds = 0.2;

// One backend in its world, for one case.
class DesktopUnderTest {
 public:
  virtual ~DesktopUnderTest() = default;
  virtual pf::Desktop& desktop() = 0;
  // applicationMain as the backend's own entry point calls it.
  virtual int run(const std::function<std::shared_ptr<pf::ApplicationDelegate>()>& create) = 0;
};

class SimUnderTest final : public DesktopUnderTest {
 public:
  explicit SimUnderTest(const World& world) {
    scenario_.hostModel = world.model;
    scenario_.defaults = world.stored;
    scenario_.loginItem = world.loginItem;
    scenario_.modifierFlags = world.modifiers;
    scenario_.answer = {world.answer, kAnswerSeconds};
    desktop_ = std::make_shared<pf::Desktop>(
        std::make_shared<sim::SimDesktop>(scenario_, trace_, false), pf::DesktopRules{12.0});
  }
  pf::Desktop& desktop() override { return *desktop_; }
  int run(const std::function<std::shared_ptr<pf::ApplicationDelegate>()>& create) override {
    return desktop_->applicationMain(0, nullptr, create);
  }

 private:
  sim::Scenario scenario_;
  sim::Trace trace_;
  std::shared_ptr<pf::Desktop> desktop_;
};

const char* serverAction(sim::Answer::Action action) {
  switch (action) {
    case sim::Answer::Action::reset:
      return "reset";
    case sim::Answer::Action::cancel:
      return "cancel";
    case sim::Answer::Action::click:
      return "default";
    case sim::Answer::Action::none:
      break;
  }
  return "";
}

class LinuxUnderTest final : public DesktopUnderTest {
 public:
  explicit LinuxUnderTest(const World& world)
      : dir_(fs::temp_directory_path() / ("desktop-contract-" + std::to_string(getpid()))),
        loginItem_(world.loginItem) {
    fs::create_directories(dir_);
    std::ofstream(dir_ / "product_name") << world.model << "\n";
    std::ofstream defaults(dir_ / "defaults.ini");
    defaults << "[Ventra]\n";
    for (const auto& [key, value] : world.stored)
      std::visit([&, &name = key](auto number) { defaults << name << " = " << number << "\n"; },
                 value);
    defaults.close();
    bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus_);
    server_ = std::make_unique<test::FakeNotificationServer>(g_test_dbus_get_bus_address(bus_));
    if (world.answer != sim::Answer::Action::none)
      server_->answerEach(serverAction(world.answer),
                          std::chrono::milliseconds(int(kAnswerSeconds * 1000)));
    desktop_ = std::make_shared<pf::Desktop>(
        app::linux_desktop::makeLinuxDesktop(
            {dir_ / "product_name", dir_ / "defaults.ini", dir_ / "delivered"},
            [modifiers = world.modifiers] { return modifiers; }),
        pf::DesktopRules{12.0});
  }
  ~LinuxUnderTest() override {
    desktop_.reset();  // drops our session bus before the bus goes down
    server_.reset();
    g_test_dbus_down(bus_);
    g_object_unref(bus_);
    fs::remove_all(dir_);
  }
  pf::Desktop& desktop() override { return *desktop_; }
  int run(const std::function<std::shared_ptr<pf::ApplicationDelegate>()>& create) override {
    std::string program = "ventra", marker = app::linux_desktop::kLoginItemArgument;
    char* argv[] = {program.data(), marker.data(), nullptr};
    return desktop_->applicationMain(loginItem_ ? 2 : 1, argv, create);
  }

 private:
  fs::path dir_;
  bool loginItem_;
  GTestDBus* bus_ = nullptr;
  std::unique_ptr<test::FakeNotificationServer> server_;
  std::shared_ptr<pf::Desktop> desktop_;
};

// An app made of a launch handler; it records what the desktop tells it and can quit.
class ScriptedApp final : public pf::ApplicationDelegate,
                          public pf::UserNotificationCenterDelegate,
                          public std::enable_shared_from_this<ScriptedApp> {
 public:
  ScriptedApp(pf::Desktop& platform, std::function<void(ScriptedApp&)> launch)
      : desktop(platform), launch_(std::move(launch)) {}
  void applicationDidFinishLaunching() override { launch_(*this); }
  void applicationWillTerminate() override { events.push_back("will terminate"); }
  void userNotificationCenterDidActivateNotification(
      pf::UserNotificationCenter&, const std::shared_ptr<pf::UserNotification>&) override {
    events.push_back("activated");
    quit();
  }
  void userNotificationCenterDidDismissAlert(
      pf::UserNotificationCenter&, const std::shared_ptr<pf::UserNotification>&) override {
    events.push_back("dismissed");
    quit();
  }
  void after(double seconds, std::string event, bool quitting = false) {
    desktop.asyncAfter(seconds, [this, event, quitting] {
      events.push_back(event);
      if (quitting) quit();
    });
  }
  void quit() { desktop.terminate(*this); }

  pf::Desktop& desktop;
  std::vector<std::string> events;

 private:
  std::function<void(ScriptedApp&)> launch_;
};

std::shared_ptr<pf::UserNotification> alert() {
  auto n = std::make_shared<pf::UserNotification>();
  n->title = "High Fan Speed Detected";
  n->informativeText = "Ventra will try to reset the fans.";
  n->hasActionButton = true;
  n->otherButtonTitle = "Reset";
  n->actionButtonTitle = "Cancel";
  return n;
}

using Maker = std::unique_ptr<DesktopUnderTest> (*)(const World&);

class DesktopContract : public ::testing::TestWithParam<std::pair<const char*, Maker>> {
 protected:
  void SetUp() override {
    if (std::string(GetParam().first) != "linux") return;
    gchar* daemon = g_find_program_in_path("dbus-daemon");
    g_free(daemon);
    if (!daemon) GTEST_SKIP() << "dbus-daemon is not installed";
  }
  std::unique_ptr<DesktopUnderTest> make(const World& world) { return GetParam().second(world); }

  // Runs the app to its end: its status and what it was told.
  std::pair<int, std::vector<std::string>> runApp(DesktopUnderTest& under,
                                                  std::function<void(ScriptedApp&)> launch) {
    auto app = std::make_shared<ScriptedApp>(under.desktop(), std::move(launch));
    int status = under.run([app] { return app; });
    return {status, app->events};
  }
};

TEST_P(DesktopContract, TheMainQueueRunsByDeadlineAndNothingAfterTerminate) {
  auto under = make({});
  auto [status, events] = runApp(*under, [](ScriptedApp& app) {
    // Far enough apart that a busy machine's late turn never finds two of them due at once.
    app.after(0.45, "c");
    app.after(0.15, "a");
    app.after(-1, "at once");
    app.after(0.30, "b");
    app.after(0.30, "b again");
    app.after(0.60, "quit", true);
    app.after(0.75, "too late");
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(events, (std::vector<std::string>{"at once", "a", "b", "b again", "c", "quit",
                                              "will terminate"}));
}

TEST_P(DesktopContract, TheLaunchingEventIsKnownOnlyWhileLaunching) {
  for (bool loginItem : {true, false}) {
    World world;
    world.loginItem = loginItem;
    auto under = make(world);
    std::optional<pf::AppleEventDescriptor> atLaunch, later = pf::AppleEventDescriptor{};
    runApp(*under, [&](ScriptedApp& app) {
      atLaunch = app.desktop.currentAppleEvent();
      app.desktop.asyncAfter(0, [&] {
        later = app.desktop.currentAppleEvent();
        app.quit();
      });
    });
    ASSERT_TRUE(atLaunch);
    EXPECT_EQ(atLaunch->eventID, pf::kAEOpenApplication);
    EXPECT_EQ(atLaunch->paramDescriptorForKeyword(pf::keyAEPropData),
              loginItem ? std::optional(pf::keyAELaunchedAsLogInItem) : std::nullopt);
    EXPECT_FALSE(later);
  }
}

// The user's value over the registered one over 0, whichever kind of number either is.
TEST_P(DesktopContract, DefaultsAreTheUsersThenTheRegisteredThenZero) {
  World world;
  world.stored = {{"Whole", std::int64_t{5}}, {"Half", 2.5}};
  auto under = make(world);
  auto defaults = under->desktop().standardUserDefaults();
  defaults->registerDefaults({{"Whole", std::int64_t{1}}, {"Only", 7.25}, {"Half", 1.0}});
  EXPECT_EQ(defaults->doubleForKey("Whole"), 5.0);
  EXPECT_EQ(defaults->doubleForKey("Half"), 2.5);
  EXPECT_EQ(defaults->doubleForKey("Only"), 7.25);
  EXPECT_EQ(defaults->doubleForKey("Unknown"), 0.0);
  EXPECT_EQ(under->desktop().standardUserDefaults(), defaults) << "one per process";
}

TEST_P(DesktopContract, TheHostModelQueryFollowsTheBufferRules) {
  World world;
  world.modifiers = pf::NSEventModifierFlagCommand;
  auto under = make(world);
  const int name[] = {pf::CTL_HW, pf::HW_MODEL};
  char buffer[64];
  std::size_t size = sizeof buffer;
  ASSERT_EQ(under->desktop().sysctl(name, 2, buffer, &size, nullptr, 0), 0);
  EXPECT_STREQ(buffer, "MacPro5,1");
  EXPECT_EQ(size, std::strlen("MacPro5,1") + 1);
  size = std::strlen("MacPro5,1");  // one short of the terminating zero
  EXPECT_EQ(under->desktop().sysctl(name, 2, buffer, &size, nullptr, 0), -1);
  const int other[] = {pf::CTL_HW, pf::HW_MODEL + 1};
  size = sizeof buffer;
  EXPECT_EQ(under->desktop().sysctl(other, 2, buffer, &size, nullptr, 0), -1);
  EXPECT_EQ(under->desktop().modifierFlags(), pf::NSEventModifierFlagCommand);
}

// "Reset" is the other button (dismiss); "Cancel" and a click on the body activate.
TEST_P(DesktopContract, TheUsersAnswerReachesTheCentresDelegate) {
  const std::map<sim::Answer::Action, std::string> told{{sim::Answer::Action::reset, "dismissed"},
                                                        {sim::Answer::Action::cancel, "activated"},
                                                        {sim::Answer::Action::click, "activated"}};
  for (const auto& [answer, event] : told) {
    World world;
    world.answer = answer;
    auto under = make(world);
    auto [status, events] = runApp(*under, [](ScriptedApp& app) {
      auto center = app.desktop.defaultUserNotificationCenter();
      center->setDelegate(app.shared_from_this());
      center->deliverNotification(alert());
      app.after(3.0, "nobody answered", true);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(events, (std::vector<std::string>{event, "will terminate"})) << event;
  }
}

// A notification withdrawn before the user acts on it is never answered.
TEST_P(DesktopContract, AWithdrawnAlertIsNeverAnswered) {
  World world;
  world.answer = sim::Answer::Action::reset;
  auto under = make(world);
  auto [status, events] = runApp(*under, [](ScriptedApp& app) {
    auto center = app.desktop.defaultUserNotificationCenter();
    center->setDelegate(app.shared_from_this());
    auto shown = alert();
    center->deliverNotification(shown);
    app.desktop.asyncAfter(kAnswerSeconds / 4,
                           [center, shown] { center->removeDeliveredNotification(shown); });
    app.after(kAnswerSeconds * 3, "quit", true);
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(events, (std::vector<std::string>{"quit", "will terminate"}));
}

// An exception out of the app, at launch or in scheduled work, ends it with status 1 and one
// line on stderr; nothing scheduled runs after it.
TEST_P(DesktopContract, AnExceptionFromTheAppEndsItWithStatusOne) {
  for (bool atLaunch : {true, false}) {
    auto under = make({});
    ::testing::internal::CaptureStderr();
    auto [status, events] = runApp(*under, [atLaunch](ScriptedApp& app) {
      app.after(0.3, "never");
      if (atLaunch) throw std::runtime_error("broken at launch");
      app.desktop.asyncAfter(0.1, [] { throw std::runtime_error("broken later"); });
    });
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              atLaunch ? "ventra: internal error: broken at launch\n"
                       : "ventra: internal error: broken later\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(events, std::vector<std::string>{});
  }
}

std::unique_ptr<DesktopUnderTest> makeSim(const World& world) {
  return std::make_unique<SimUnderTest>(world);
}
std::unique_ptr<DesktopUnderTest> makeLinux(const World& world) {
  return std::make_unique<LinuxUnderTest>(world);
}

INSTANTIATE_TEST_SUITE_P(Backends, DesktopContract,
                         ::testing::Values(std::pair{"sim", &makeSim},
                                           std::pair{"linux", &makeLinux}),
                         [](const auto& named) { return std::string(named.param.first); });

}  // namespace
}  // namespace ventra
