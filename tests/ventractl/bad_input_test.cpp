// What ventractl does with input that could hang, be cut or mislead, and with output nobody can
// take whole: each case as a user would meet it, through the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "ventractl/cli_run.h"

namespace ventra {
namespace {
using testing::CliRun;
using testing::shell;
using testing::ventractl;

// A scratch directory of its own for each test process.
std::string scratch(const std::string& name) {
  auto path = ::testing::TempDir() + name + "-" + std::to_string(getpid());
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path;
}

// What could hang or read without end is refused at once: a FIFO, a device or a directory as a
// profile, a FIFO among the driver's files; a profile past 16 MiB is refused, not read. `timeout`
// marks a hang (124).
TEST(Ventractl, InputsThatCouldHangAreRefusedAtOnce) {
  const std::string dir = scratch("hang");
  ASSERT_EQ(mkfifo((dir + "/profile.json").c_str(), 0600), 0);
  std::ofstream(dir + "/large.json").close();
  std::filesystem::resize_file(dir + "/large.json", (16u << 20) + 1);
  const std::pair<std::string, std::string> profiles[] = {
      {dir + "/profile.json", "is not a regular file"},
      {"/dev/zero", "is not a regular file"},
      {dir, "is a directory"},
      {dir + "/large.json", "is larger than 16 MiB"},
      {dir + "/missing.json", "does not exist"}};
  for (const auto& [profile, message] : profiles) {
    CliRun run = ventractl("--profile " + profile + " fans", "timeout 10 ");
    EXPECT_EQ(run.status, 1) << profile;
    EXPECT_NE(run.err.find(message), std::string::npos) << profile << ": " << run.err;
  }
  std::filesystem::create_directories(dir + "/smc");
  ASSERT_EQ(mkfifo((dir + "/smc/key_count").c_str(), 0600), 0);
  EXPECT_EQ(ventractl("--applesmc " + dir + "/smc fans", "timeout 10 ").status, 1);
  std::filesystem::remove(dir + "/smc/key_count");
  std::ofstream(dir + "/smc/key_count") << "1\n";
  ASSERT_EQ(mkfifo((dir + "/smc/fan1_input").c_str(), 0600), 0);
  EXPECT_EQ(ventractl("--applesmc " + dir + "/smc read F0Ac", "timeout 10 ").status, 1);
  std::filesystem::remove_all(dir);
}

// JSON would let the last of two equal members win, unseen: a profile or scenario naming one
// twice is an error that names it.
TEST(Ventractl, AMemberNamedTwiceIsAnError) {
  const std::string dir = scratch("twice");
  std::ofstream(dir + "/p.json") << R"({"keys": [{"key": "F0Ac", "type": "fpe2", "bytes": "0FA0",
                                       "bytes": "1770"}]})";
  CliRun run = ventractl("--profile " + dir + "/p.json fans");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("member \"bytes\" appears twice"), std::string::npos) << run.err;
  std::ofstream(dir + "/s.json") << R"({"hostModel": "MacPro5,1", "hostModel": "iMac"})";
  run = ventractl("simulate " + dir + "/s.json");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("member \"hostModel\" appears twice"), std::string::npos) << run.err;
  std::filesystem::remove_all(dir);
}

// A key whose read fails is captured as failing on reads alone, so the capture replays: it is
// listed, described and dumped again, and only reading its value fails.
TEST(Ventractl, ACaptureWithAFailedReadReplaysThatReadOnly) {
  const std::string dir = scratch("replay");
  std::ofstream(dir + "/p.json") << R"({"keys": [
    {"key": "F0Ac", "type": "fpe2", "bytes": "1770"},
    {"key": "TC0D", "type": "sp78", "bytes": "1D00", "ioReturn": "0xE00002C0", "failsOn": "read"},
    {"key": "TA0P", "type": "sp78", "bytes": "1D40"}]})";
  ASSERT_EQ(ventractl("--profile " + dir + "/p.json dump -o " + dir + "/c.json").status, 0);
  std::ifstream captured(dir + "/c.json");
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(captured), {}).find("\"failsOn\": \"read\""),
            std::string::npos);
  const std::string replay = "--profile " + dir + "/c.json ";
  EXPECT_EQ(ventractl(replay + "keys").status, 0);
  EXPECT_EQ(ventractl(replay + "dump").status, 0);
  CliRun temps = ventractl(replay + "temps --all");
  EXPECT_EQ(temps.status, 0) << temps.err;
  EXPECT_NE(temps.out.find("TA0P"), std::string::npos) << temps.out;
  EXPECT_NE(ventractl(replay + "read TC0D").status, 0);
  std::filesystem::remove_all(dir);
}

// Text from a profile never reaches the terminal raw: an ESC in a member's name is shown escaped
// in the error, a C1 control (U+009B, a terminal's CSI) in a fan's name escaped in keys; and a
// file here that shadows a bundled profile says so.
TEST(Ventractl, DataNeverSendsControlsToTheTerminal) {
  const std::string dir = scratch("controls");
  std::ofstream(dir + "/esc.json") << R"({"keys": [], "bad\u001b[31mfield": 1})";
  CliRun esc = ventractl("--profile " + dir + "/esc.json fans");
  EXPECT_EQ(esc.status, 1);
  EXPECT_EQ(esc.err.find('\x1b'), std::string::npos) << esc.err;
  EXPECT_NE(esc.err.find("bad\\x1B[31mfield"), std::string::npos) << esc.err;
  std::ofstream(dir + "/c1.json")
      << R"({"keys": [{"key": "F0ID", "type": "{fds", "bytes": "000000009B4243000000000000000000"}]})";
  CliRun keys = ventractl("--profile " + dir + "/c1.json keys");
  EXPECT_EQ(keys.out.find("\xC2\x9B"), std::string::npos) << keys.out;
  EXPECT_NE(keys.out.find("\"\\x9BBC\""), std::string::npos) << keys.out;
  CliRun shadowed =
      shell("cd " + dir +
            " && cp " VENTRA_SOURCE_DIR "/profiles/macpro5_1.json . && " VENTRACTL_PATH
            " --profile macpro5_1.json fans");
  EXPECT_EQ(shadowed.status, 0) << shadowed.err;
  EXPECT_NE(shadowed.err.find("using ./macpro5_1.json, a file in the working directory, not the "
                              "bundled one of that name"),
            std::string::npos)
      << shadowed.err;
  std::filesystem::remove_all(dir);
}

// Messages say what is wrong: a number out of range is out of range, an empty value names
// nothing, an emulated SMC's refusal is the profile's (no sudo lifts it), and a NUL byte ends
// no profile early.
TEST(Ventractl, MessagesSayWhatIsWrongNotASymptom) {
  CliRun huge = ventractl("gpu load --size 99999999999999999999");
  EXPECT_EQ(huge.status, 2);
  EXPECT_NE(huge.err.find("--size must be from 1 to 32768"), std::string::npos) << huge.err;
  CliRun empty = ventractl("--profile '' fans");
  EXPECT_EQ(empty.status, 2);
  EXPECT_NE(empty.err.find("--profile needs a FILE, not an empty word"), std::string::npos)
      << empty.err;
  const std::string dir = scratch("messages");
  std::ofstream(dir + "/denied.json") << R"({"notPrivileged": "all", "keys": []})";
  CliRun denied = ventractl("--profile " + dir + "/denied.json keys");
  EXPECT_EQ(denied.status, 1);
  EXPECT_NE(denied.err.find("the profile's SMC refuses it"), std::string::npos) << denied.err;
  EXPECT_EQ(denied.err.find("sudo"), std::string::npos) << denied.err;
  const char withNul[] = "{\"keys\": []}\0garbage";
  std::ofstream(dir + "/nul.json") << std::string(withNul, sizeof withNul - 1);
  CliRun nul = ventractl("--profile " + dir + "/nul.json fans");
  EXPECT_EQ(nul.status, 1);
  EXPECT_NE(nul.err.find("a NUL byte at offset 12"), std::string::npos) << nul.err;
  std::filesystem::remove_all(dir);
}

// -o names a stream as well as a file: /dev/stdout into a pipe is written through.
TEST(Ventractl, ADumpIntoAStreamIsWrittenThrough) {
  CliRun run = shell(VENTRACTL_PATH " --profile profiles/macpro5_1.json dump -o /dev/stdout | cat");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(nlohmann::json::parse(run.out)["keys"].size(), 78u);
}

// A capture that cannot be written whole (here: past a file size limit, as on a full disk)
// fails with the reason and leaves the earlier capture as it was.
TEST(Ventractl, ADumpThatCannotBeWrittenLeavesTheEarlierCapture) {
  const std::string dir = scratch("full");
  std::ofstream(dir + "/c.json") << "{\"keys\": []}\n";
  CliRun run = shell("trap '' XFSZ; ulimit -f 2; " VENTRACTL_PATH
                     " --profile profiles/macpro5_1-hot.json dump -o " +
                     dir + "/c.json");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("unchanged"), std::string::npos) << run.err;
  std::ifstream old(dir + "/c.json");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "{\"keys\": []}\n");
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    entries += !entry.is_directory();
  EXPECT_EQ(entries, 1u) << "no temporary file left behind";
  std::filesystem::remove_all(dir);
}

// Bytes from the SMC or a profile reach a terminal or a CSV file escaped, as errors show them:
// an ESC in a key or type, a NUL or ESC in a fan's label. JSON escapes them itself.
TEST(Ventractl, TextOutputEscapesControlBytesFromTheSmc) {
  const std::string dir = scratch("escapes");
  std::ofstream(dir + "/p.json") << R"({"keys": [
    {"key": "FNum", "type": "ui8 ", "bytes": "01"},
    {"key": "F0Ac", "type": "fpe2", "bytes": "1770"},
    {"key": "F0ID", "type": "{fds", "bytes": "00000000 50 1B 5B 32 4A 00 43 49 20202020"},
    {"key": "T\u001b0P", "type": "sp\u001b8", "bytes": "1D40"}]})";
  const std::string profile = "--profile " + dir + "/p.json ";
  for (const char* command : {"keys", "fans", "watch --count 1",
                              "read 'T\x1b"
                              "0P'"}) {
    CliRun run = ventractl(profile + command);
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << command << ": " << run.out;
    EXPECT_EQ(run.out.find('\0'), std::string::npos) << command;
    EXPECT_NE(run.out.find("\\x1B"), std::string::npos) << command << ": " << run.out << run.err;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace ventra
