// The freedesktop notification centre against a notification server on a private session bus.
#include "app/platform/linux/notifications.h"

#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "support/fake_notification_server.h"

namespace ventra::app::linux_desktop {
namespace {
namespace pf = platform;
using test::FakeNotificationServer;

// What the user answered, as the desktop above hears it: Reset dismisses, the rest activates.
struct Answers {
  std::vector<std::string> heard;
  std::function<void(pf::UserAnswer)> recorder() {
    return [this](pf::UserAnswer answer) {
      heard.push_back(answer == pf::UserAnswer::otherButton ? "dismiss" : "activate");
    };
  }
};

std::shared_ptr<pf::UserNotification> fanAlert() {
  auto n = std::make_shared<pf::UserNotification>();
  n->title = "High Fan Speed Detected";
  n->informativeText = "Ventra will try to reset the fans.";
  n->soundName = pf::NSUserNotificationDefaultSoundName;
  n->hasActionButton = true;
  n->otherButtonTitle = "Reset";
  n->actionButtonTitle = "Cancel";
  n->values["_showsButtons"] = true;
  return n;
}

std::string firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

template <typename Predicate>
bool pumpUntil(Predicate done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    g_main_context_iteration(nullptr, FALSE);
  return done();
}

void pumpFor(std::chrono::milliseconds duration) {
  auto deadline = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < deadline) g_main_context_iteration(nullptr, FALSE);
}

class FreedesktopNotifications : public ::testing::Test {
 protected:
  void SetUp() override {
    gchar* daemon = g_find_program_in_path("dbus-daemon");
    g_free(daemon);
    if (!daemon) GTEST_SKIP() << "dbus-daemon is not installed";
    bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus_);
    server_ = std::make_unique<FakeNotificationServer>(g_test_dbus_get_bus_address(bus_));
  }
  void TearDown() override {
    if (!bus_) return;
    center_.reset();  // drops our session bus before the bus goes down
    server_.reset();
    g_test_dbus_down(bus_);
    g_object_unref(bus_);
    std::filesystem::remove(state_);
  }

  std::filesystem::path state_ =
      std::filesystem::temp_directory_path() / ("ventra-delivered-" + std::to_string(getpid()));
  GTestDBus* bus_ = nullptr;
  std::unique_ptr<FakeNotificationServer> server_;
  std::shared_ptr<FreedesktopNotificationCenter> center_ = freedesktopNotificationCenter(state_);

  // The fan alert, kept 12 s at most (the app's 9 s wait and a little).
  pf::NotificationId deliver(Answers* answers = nullptr) {
    return center_->show(
        *fanAlert(), 12.0, answers ? answers->recorder() : [](pf::UserAnswer) {});
  }

  bool closedSoon(const std::vector<guint32>& expected) {
    return pumpUntil([&] { return server_->closed() == expected; });
  }
};

TEST_F(FreedesktopNotifications, ResetActionIsTheDismissCallbackAndClosesTheNotification) {
  Answers answers;
  deliver(&answers);
  ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(state_); }));
  auto notified = server_->notified();
  ASSERT_EQ(notified.size(), 1u);
  EXPECT_EQ(notified[0].summary, "High Fan Speed Detected");
  EXPECT_EQ(notified[0].body, "Ventra will try to reset the fans.");
  EXPECT_EQ(notified[0].actions,
            (std::vector<std::string>{"default", "", "reset", "Reset", "cancel", "Cancel"}));
  EXPECT_EQ(notified[0].sound, "message-new-instant");
  EXPECT_EQ(notified[0].expire, 12000)
      << "the app's 9 s wait decides; the server clears only an alert left behind";
  server_->invokeAction(41, "reset");
  server_->invokeAction(41, "default");  // a late echo of the same answer
  ASSERT_TRUE(pumpUntil([&] { return !answers.heard.empty(); }));
  pumpFor(std::chrono::milliseconds(200));  // let the echo arrive
  EXPECT_EQ(answers.heard, std::vector<std::string>{"dismiss"}) << "the first answer wins";
  EXPECT_TRUE(closedSoon({41}));
}

TEST_F(FreedesktopNotifications, ClickAndCancelActivate) {
  Answers answers;
  deliver(&answers);
  ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(state_); }));
  server_->invokeAction(99, "cancel");  // someone else's notification
  server_->invokeAction(41, "default");
  ASSERT_TRUE(pumpUntil([&] { return !answers.heard.empty(); }));
  EXPECT_EQ(answers.heard, std::vector<std::string>{"activate"});
}

TEST_F(FreedesktopNotifications, NextRunClosesWhatAnEarlierRunLeft) {
  deliver();
  ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(state_); }));
  center_.reset();  // the process ended with the notification on screen
  center_ = freedesktopNotificationCenter(state_);
  center_->withdraw(std::nullopt);
  EXPECT_TRUE(closedSoon({41}));
  EXPECT_FALSE(std::filesystem::exists(state_));
  auto second = deliver();
  ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(state_); }));
  center_->withdraw(second);
  EXPECT_TRUE(closedSoon({41, 42}));
}

// The state file is ours alone: a link in its place is replaced, never written through; a FIFO
// is refused without hanging; a huge file costs a bounded number of calls.
TEST_F(FreedesktopNotifications, TheStateFileCannotBeTurnedAgainstTheUser) {
  auto victim = state_.string() + "-victim";
  std::ofstream(victim) << "precious\n";
  std::filesystem::create_symlink(victim, state_);
  deliver();
  ASSERT_TRUE(pumpUntil([&] { return !std::filesystem::is_symlink(state_); }));
  std::ifstream kept(victim);
  std::string text((std::istreambuf_iterator<char>(kept)), {});
  EXPECT_EQ(text, "precious\n");
  std::filesystem::remove(victim);
  std::filesystem::remove(state_);

  ASSERT_EQ(mkfifo(state_.c_str(), 0600), 0);
  center_ = freedesktopNotificationCenter(state_);
  center_->withdraw(std::nullopt);  // returns: the FIFO is not opened for reading
  std::filesystem::remove(state_);

  // More ids than a run remembers, all of this server: only the first few are closed.
  deliver();
  ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(state_); }));
  const std::string server = firstLine(state_);
  const std::size_t before = server_->closed().size();
  std::ofstream many(state_);
  many << server << "\n";
  for (int id = 1; id <= 40; ++id) many << id << "\n";
  many.close();
  center_ = freedesktopNotificationCenter(state_);
  center_->withdraw(std::nullopt);
  center_->settle(std::chrono::milliseconds(1000));
  ASSERT_TRUE(pumpUntil([&] { return server_->closed().size() >= before + 2; }));
  pumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(server_->closed().size(), before + kMaxRememberedNotifications);

  // A file longer than any this program writes is refused whole, never read in part: a number
  // cut at the limit would name another program's notification.
  std::ofstream huge(state_);
  huge << server << "\n";
  for (int id = 1000; id <= 100000; ++id) huge << id << "\n";
  huge.close();
  center_ = freedesktopNotificationCenter(state_);
  center_->withdraw(std::nullopt);
  center_->settle(std::chrono::milliseconds(1000));
  pumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(server_->closed().size(), before + kMaxRememberedNotifications);
}

// Ids are a server's own: once that server is gone, an id left by an earlier run may be another
// program's notification on the next one, and is never closed. A record without its server (an
// older one) is not either.
TEST_F(FreedesktopNotifications, ALeftIdIsClosedOnlyOnTheServerThatGaveIt) {
  deliver();
  ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(state_); }));
  EXPECT_TRUE(firstLine(state_).starts_with("server ")) << firstLine(state_);
  center_.reset();
  server_.reset();  // the server quits; another one starts and gives out ids anew
  server_ = std::make_unique<FakeNotificationServer>(g_test_dbus_get_bus_address(bus_));
  center_ = freedesktopNotificationCenter(state_);
  center_->withdraw(std::nullopt);
  center_->settle(std::chrono::milliseconds(1000));
  pumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(server_->closed(), std::vector<guint32>{}) << "id 41 is someone else's now";
  EXPECT_FALSE(std::filesystem::exists(state_)) << "the stale record is dropped";
  std::ofstream(state_) << "41\n";
  center_ = freedesktopNotificationCenter(state_);
  center_->withdraw(std::nullopt);
  center_->settle(std::chrono::milliseconds(1000));
  pumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(server_->closed(), std::vector<guint32>{});
}

// A server that answers nothing (a stopped process) is sent no alert: shown after it resumes,
// long after the app quit, its buttons would answer nobody. Delivery does not hang on it.
TEST_F(FreedesktopNotifications, AServerThatDoesNotAnswerIsSentNothing) {
  server_->stall();
  auto started = std::chrono::steady_clock::now();
  deliver();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
  center_->settle(std::chrono::milliseconds(500));
  server_->resume();
  pumpFor(std::chrono::milliseconds(300));
  EXPECT_TRUE(server_->notified().empty());
  EXPECT_FALSE(std::filesystem::exists(state_));
}

class SlowNotificationServer : public FreedesktopNotifications {
 protected:
  void SetUp() override {
    FreedesktopNotifications::SetUp();
    if (!bus_) return;
    server_.reset();
    server_ = std::make_unique<FakeNotificationServer>(g_test_dbus_get_bus_address(bus_),
                                                       std::chrono::milliseconds(1500));
  }
};

// Delivering never waits for the server; an answer that comes after the app removed the
// notification closes it, and a quitting app waits (boundedly) for that answer.
TEST_F(SlowNotificationServer, ANotificationShownLateIsStillClosed) {
  auto started = std::chrono::steady_clock::now();
  auto alert = deliver();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
  center_->withdraw(alert);  // the app's timeout, before the server answered
  center_->settle(std::chrono::milliseconds(5000));
  EXPECT_TRUE(closedSoon({41}));
  EXPECT_FALSE(std::filesystem::exists(state_));
}

TEST_F(SlowNotificationServer, ALateAnswerIsRecordedForTheNextRun) {
  deliver();
  center_->settle(std::chrono::milliseconds(5000));  // the app quit while the server was slow
  center_.reset();
  center_ = freedesktopNotificationCenter(state_);
  center_->withdraw(std::nullopt);
  EXPECT_TRUE(closedSoon({41}));
}

}  // namespace
}  // namespace ventra::app::linux_desktop
