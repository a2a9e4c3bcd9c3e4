#include "app/platform/linux/linux_desktop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace ventra::app::linux_desktop {
namespace {
namespace fs = std::filesystem;
namespace pf = platform;

class TempDir {
 public:
  TempDir()
      : path_(fs::temp_directory_path() /
              ("ventra-test-" + std::to_string(getpid()) + "-" + std::to_string(counter_++))) {
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  fs::path write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ / name, std::ios::binary) << text;
    return path_ / name;
  }
  const fs::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

TEST(LinuxHost, X11ModifiersMapToTheDeviceIndependentFlags) {
  EXPECT_EQ(modifierFlagsFromX11(0), 0u);
  EXPECT_EQ(modifierFlagsFromX11(0x40), 0x00100000u) << "Super is Command";
  EXPECT_EQ(modifierFlagsFromX11(0x40 | 0x01), 0x00120000u);
  EXPECT_EQ(modifierFlagsFromX11(0x02 | 0x04 | 0x08), 0x000D0000u);
  EXPECT_EQ(modifierFlagsFromX11(0x10 | 0x100), 0u)
      << "NumLock (Mod2) and buttons are not modifiers here";
  EXPECT_EQ(modifierFlagsFromX11(0x80), 0x00080000u) << "AltGr (Mod5) is this keyboard's Option";
  EXPECT_EQ(modifierFlagsFromX11(0x40 | 0x80), 0x00180000u) << "Super+AltGr is not Command alone";
  EXPECT_EQ(modifierFlagsFromX11(0x40 | 0x10), 0x00100000u) << "Num Lock on: Command alone";
}

TEST(LinuxHost, ProductNameIsTheDmiTextWithoutItsNewline) {
  TempDir dir;
  EXPECT_EQ(readProductName(dir.write("product_name", "MacPro5,1\n")), "MacPro5,1");
  EXPECT_EQ(readProductName(dir.write("other", "MacPro5,1 ")), "MacPro5,1 ")
      << "nothing else trimmed";
  EXPECT_EQ(readProductName(dir.path() / "missing"), std::nullopt);
}

TEST(LinuxPreferences, StoredNumbersAreParsedStrictly) {
  TempDir dir;
  struct Case {
    const char* text;
    std::optional<double> value;
    const char* problem;  // "" when none
  };
  const Case cases[] = {
      {"[Ventra]\nDelayAtLogin=30\n", 30.0, ""},
      {"[Ventra]\nDelayAtLogin= -12.5  \n", -12.5, ""},
      {"[Ventra]\nOther=1\n", std::nullopt, ""},
      {"[Ventra]\nDelayAtLogin=soon\n", std::nullopt, "DelayAtLogin = \"soon\" is not a number"},
      {"[Ventra]\nDelayAtLogin=30s\n", std::nullopt, "is not a number"},
      {"[Ventra]\nDelayAtLogin=\n", std::nullopt, "is not a number"},
      {"[Ventra]\nDelayAtLogin=nan\n", std::nullopt,
       "DelayAtLogin = \"nan\" is not a finite number"},
      {"[Ventra]\nDelayAtLogin=1e400\n", std::nullopt, "is not a finite number"},
      {"DelayAtLogin=30\n", std::nullopt, "defaults.ini: "},                   // no group line
      {"[Ventra]\nDelayAtLogin=3\xff\xfe\n", std::nullopt, "DelayAtLogin: "},  // not UTF-8
  };
  for (const auto& c : cases) {
    std::string problem;
    auto file = dir.write("defaults.ini", c.text);
    EXPECT_EQ(readStoredNumber(file, "DelayAtLogin", problem), c.value) << c.text;
    if (*c.problem == '\0')
      EXPECT_EQ(problem, "") << c.text;
    else
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << " gave " << problem;
  }
  std::string problem;
  EXPECT_EQ(readStoredNumber(dir.path() / "absent.ini", "DelayAtLogin", problem), std::nullopt);
  EXPECT_EQ(problem, "") << "no file is no value, not a problem";
}

// A setting the desktop cannot use leaves the default in force; the app says nothing of it (it
// logs nothing anywhere), a tool that asked to hear of it is told.
// Ctrl-C while the app is busy in its own work (the GPU load, which holds the main queue) is
// heard as the work ends: the process ends with the signal's status, not as if nothing came.
TEST(LinuxDesktopRun, ASignalDuringTheAppsOwnWorkIsHeardWhenItEnds) {
  auto desktop = makeLinuxDesktop({}, [] { return 0; });
  desktop->runAfter(0, [&] {
    raise(SIGINT);  // GLib's handler takes it while the main queue is held
    desktop->quit();
  });
  int status = 0;
  desktop->runUntilQuit([&](int stop) { status = stop; });
  EXPECT_EQ(status, 128 + SIGINT);
}

TEST(LinuxPreferences, TheAppKeepsASettingsProblemToItselfAndAToolHearsOfIt) {
  TempDir dir;
  LinuxPaths paths;
  paths.defaultsFile = dir.write("defaults.ini", "[Ventra]\nDelayAtLogin=soon\n");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(makeLinuxDesktop(paths, [] { return 0; })->storedDefault("DelayAtLogin"), std::nullopt);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  std::string told;
  auto tool = makeLinuxDesktop(
      paths, [] { return 0; }, [&](const std::string& problem) { told += problem; });
  EXPECT_EQ(tool->storedDefault("DelayAtLogin"), std::nullopt);
  EXPECT_NE(told.find("DelayAtLogin = \"soon\" is not a number"), std::string::npos) << told;
}

TEST(LinuxPreferences, AFifoInPlaceOfTheFileIsRefusedWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir.path() / "defaults.ini").c_str(), 0600), 0);
  std::string problem;
  EXPECT_EQ(readStoredNumber(dir.path() / "defaults.ini", "DelayAtLogin", problem), std::nullopt);
  EXPECT_NE(problem.find("not a regular file"), std::string::npos) << problem;
}

// A file past 64 KiB is refused whole: read in part, "DelayAtLogin=300" across the limit would
// read as 3.
TEST(LinuxPreferences, AFileLongerThanTheLimitIsRefusedNotCut) {
  TempDir dir;
  std::string text = "[Ventra]\n#" + std::string(64 * 1024 - 25, 'x') + "\nDelayAtLogin=300\n";
  ASSERT_GT(text.size(), 64u * 1024);
  ASSERT_LT(text.find("=300"), 64u * 1024) << "the value straddles the limit";
  std::string problem;
  EXPECT_EQ(readStoredNumber(dir.write("defaults.ini", text), "DelayAtLogin", problem),
            std::nullopt);
  EXPECT_NE(problem.find("longer than 65536 bytes"), std::string::npos) << problem;
  text.resize(64 * 1024 - 1);
  problem.clear();
  readStoredNumber(dir.write("defaults.ini", text), "DelayAtLogin", problem);
  EXPECT_EQ(problem.find("longer than"), std::string::npos) << "at the limit it is read";
}

// An X server that accepts the connection and never answers must not hang the launch.
TEST(LinuxHost, ASilentDisplayMeansNoModifiers) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int display = -1;
  for (int candidate = 90; candidate < 130 && display < 0; ++candidate) {
    address.sin_port = htons(static_cast<std::uint16_t>(6000 + candidate));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
      display = candidate;
  }
  ASSERT_GE(display, 0) << "no free X11 port on the loopback";
  ASSERT_EQ(listen(listener, 4), 0);
  std::string previous = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  setenv("DISPLAY", ("127.0.0.1:" + std::to_string(display)).c_str(), 1);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(queryModifierFlags(std::chrono::milliseconds(200)), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  if (previous.empty())
    unsetenv("DISPLAY");
  else
    setenv("DISPLAY", previous.c_str(), 1);
  close(listener);  // the abandoned Xlib thread now fails and ends
  EXPECT_TRUE(waitForModifierQueries(std::chrono::seconds(10)));
}

// The launch, the main queue, the host model query and the defaults' order are the desktop
// contract's (desktop_contract_test.cpp); what is the Linux backend's own stays here.
TEST(LinuxDesktop, DefaultsPreferTheFileThenTheRegisteredValue) {
  TempDir dir;
  pf::Desktop desktop(
      makeLinuxDesktop({dir.path() / "p", dir.path() / "defaults.ini", dir.path() / "s"}), {12.0});
  auto defaults = desktop.standardUserDefaults();
  defaults->registerDefaults({{"DelayAtLogin", std::int64_t{0}}});
  EXPECT_EQ(defaults->doubleForKey("DelayAtLogin"), 0.0);
  dir.write("defaults.ini", "[Ventra]\nDelayAtLogin=-30\n");
  EXPECT_EQ(defaults->doubleForKey("DelayAtLogin"), -30.0) << "read when asked, not at launch";
  dir.write("defaults.ini", "[Ventra]\nDelayAtLogin=later\n");
  EXPECT_EQ(defaults->doubleForKey("DelayAtLogin"), 0.0)
      << "junk falls back to the registered value";
}

}  // namespace
}  // namespace ventra::app::linux_desktop
