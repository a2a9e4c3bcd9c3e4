// watch, piped and on a terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "commands/session.h"
#include "line/cli.h"
#include "line/command_definitions.h"
#include "ventractl/cli_run.h"

namespace ventra {
namespace {
using nlohmann::json;
using testing::CliRun;
using testing::linesOf;
using testing::shell;
using testing::ventractl;

TEST(Ventractl, WatchIntoAPipeWritesOneTimestampedRecordPerSample) {
  const std::string watch = "--profile profiles/macpro5_1-hot.json watch --count 2 --interval 0.01";
  CliRun jsonRun = ventractl(watch + " -j");
  ASSERT_EQ(jsonRun.status, 0) << jsonRun.err;
  auto records = linesOf(jsonRun.out);
  ASSERT_EQ(records.size(), 2u);
  json first = json::parse(records[0]), second = json::parse(records[1]);
  EXPECT_EQ(first["fans"][0]["currentSpeed"], 1500);
  EXPECT_EQ(second["fans"][0]["currentSpeed"], 1504) << "successive reads";
  EXPECT_EQ(first["fans"][0]["name"], "PCI");
  EXPECT_EQ(first["sample"], 1) << "numbered from 1, as on the terminal";
  EXPECT_EQ(first["time"].get<std::string>().size(), 24u) << first["time"];  // ISO 8601, UTC, ms

  CliRun csv = ventractl(watch + " --all");
  ASSERT_EQ(csv.status, 0) << csv.err;
  auto lines = linesOf(csv.out);
  ASSERT_EQ(lines.size(), 3u) << csv.out;
  EXPECT_EQ(lines[0].rfind("time,sample,fan0 PCI rpm,fan1 PS rpm,", 0), 0u) << lines[0];
  auto columns = [](const std::string& line) { return std::count(line.begin(), line.end(), ','); };
  EXPECT_EQ(columns(lines[1]), columns(lines[0]));
  EXPECT_EQ(lines[2].substr(lines[2].find(',') + 1, 2), "2,") << "the second sample is 2";
  CliRun known = ventractl(watch);
  EXPECT_GT(columns(lines[0]), columns(linesOf(known.out)[0])) << "--all adds the unknown keys";
}

// On a terminal (here a pseudo-terminal from script(1)) the view is redrawn in place with a
// sparkline per reading.
TEST(Ventractl, WatchOnATerminalRedrawsWithSparklines) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  CliRun run = shell("script -qec '" VENTRACTL_PATH
                     " --profile profiles/macpro5_1-hot.json watch --count 3 --interval 0.01' "
                     "/dev/null");
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\x1b'), 6) << "home and clear, 3 times";
  EXPECT_NE(run.out.find("fan0 PCI"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\u2588\u2581"), std::string::npos) << "1500, 1504, 1496 as a line";
  EXPECT_NE(run.out.find("1496\u20131504"), std::string::npos) << "the line's low and high";
  EXPECT_NE(run.out.find("sample 3,"), std::string::npos);
}

// On a terminal: -j still writes JSON lines; the view fits the terminal's height, saying how
// much it left out, and marks a junk reading as temps does.
TEST(Ventractl, WatchOnATerminalFitsItsHeightAndHonoursJson) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  auto onTerminal = [](int rows, const std::string& options) {
    return shell("script -qec 'stty rows " + std::to_string(rows) +
                 "; " VENTRACTL_PATH
                 " --profile profiles/macpro5_1-hot.json watch --count 1 --all " +
                 options + "' /dev/null");
  };
  CliRun lines = onTerminal(10, "-j");
  EXPECT_EQ(lines.out.find('\x1b'), std::string::npos) << "no redrawing";
  EXPECT_EQ(json::parse(lines.out)["sample"], 1) << lines.out;
  CliRun small = onTerminal(10, "");
  EXPECT_NE(small.out.find("more readings not shown"), std::string::npos) << small.out;
  // Nine lines in ten rows, the last for the cursor; then the newline that ends the run.
  EXPECT_EQ(linesOf(small.out).size(), 10u) << small.out;
  CliRun tall = onTerminal(200, "");
  EXPECT_EQ(tall.out.find("not shown"), std::string::npos);
  EXPECT_NE(tall.out.find(" (junk)"), std::string::npos) << "Te1S reads -0";
}

// The label column is 28 characters, not bytes: "fan0 " and twelve "é" (17 characters in 29
// bytes) is shown whole and padded, where a cut at 27 bytes split the last "é".
TEST(Ventractl, WatchCutsALongLabelAtACharacter) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  const std::string profile = ::testing::TempDir() + "long-" + std::to_string(getpid()) + ".json";
  std::ofstream(profile) << R"({"keys": [{"key": "FNum", "type": "ui8 ", "bytes": "01"},
      {"key": "F0Ac", "type": "fpe2", "bytes": "0EE0"},
      {"key": "F0ID", "type": "{fds", "bytes": "00000000E9E9E9E9E9E9E9E9E9E9E9E9"}]})";
  CliRun run =
      shell("script -qec '" VENTRACTL_PATH " --profile " + profile + " watch --count 1' /dev/null");
  const std::string twelve = "fan0 éééééééééééé";
  auto at = run.out.find(twelve);
  ASSERT_NE(at, std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(at + twelve.size(), 11), std::string(11, ' ')) << "padded to 28";
  std::remove(profile.c_str());
}

TEST(Ventractl, WatchStoppedByCtrlCExits130) {
  CliRun run = shell("timeout --preserve-status -s INT 0.5 " VENTRACTL_PATH
                     " --profile profiles/macpro5_1-hot.json watch --interval 0.05 >/dev/null");
  EXPECT_EQ(run.status, 130);
}

// Output nobody can read any more ends watch at the first sample that cannot be written: a full
// disk, a closed descriptor, a reader gone with SIGPIPE ignored. `timeout` marks a hang (124).
TEST(Ventractl, WatchStopsAtTheFirstSampleThatCannotBeWritten) {
  const std::string watch =
      "timeout 10 " VENTRACTL_PATH " --profile profiles/macpro5_1-hot.json watch --interval 0.2";
  for (const std::string& sink : {std::string(" >/dev/full"), std::string(" >&-")}) {
    CliRun run = shell(watch + sink);
    EXPECT_EQ(run.status, 1) << sink;
    EXPECT_NE(run.err.find("cannot write the output"), std::string::npos) << sink << run.err;
  }
  CliRun piped =
      shell("trap '' PIPE; { " + watch + " -j; echo \"status $?\" >&2; } | head -c 1 >/dev/null");
  EXPECT_NE(piped.err.find("cannot write the output"), std::string::npos) << piped.err;
  EXPECT_NE(piped.err.find("status 1\n"), std::string::npos) << piped.err;
}

}  // namespace
}  // namespace ventra
