// ventractl reset, as a user runs it: on the simulated tower (--profile with --gpu fake, a
// virtual clock), on this host's real GPU in real time, on a terminal and into a log; and its
// outcome line and exit status for every way a reset can end.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "ventractl/cli_run.h"
#include "views/reset_view.h"

namespace ventra {
namespace {
using nlohmann::json;
using reset::Result;
using testing::CliRun;
using testing::linesOf;
using testing::shell;
using testing::ventractl;

const std::string kTower = "--profile macpro5_1-stuck.json reset --gpu fake --size 64";

std::vector<json> events(const CliRun& run) {
  std::vector<json> all;
  for (const auto& line : linesOf(run.out)) all.push_back(json::parse(line));
  return all;
}

// A variant of the stuck tower's profile, in the test's own directory.
std::string towerWith(const std::string& name, const json& fanUnderLoad,
                      std::optional<int> opensBeforeFailure = std::nullopt) {
  json profile = json::parse(std::ifstream(VENTRA_SOURCE_DIR "/profiles/macpro5_1-stuck.json"));
  for (auto& [field, value] : fanUnderLoad.items()) profile["fanUnderLoad"][field] = value;
  if (opensBeforeFailure) profile["opensBeforeFailure"] = *opensBeforeFailure;
  const std::string path = ::testing::TempDir() + name + "-" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << profile.dump();
  return path;
}

TEST(ResetCommand, TheSimulatedTowerWalksTheWholeRoadInJson) {
  CliRun run = ventractl(kTower + " --json");
  ASSERT_EQ(run.status, 0) << run.err;
  auto all = events(run);
  ASSERT_GT(all.size(), 70u);
  EXPECT_EQ(all[1]["event"], "check");
  EXPECT_EQ(all[1]["eligible"], true);
  std::vector<std::string> phases;
  for (const auto& event : all) {
    EXPECT_EQ(event["schema"], 1);
    if (event["event"] == "phase") phases.push_back(event["phase"]);
  }
  EXPECT_EQ(phases, (std::vector<std::string>{"check", "load", "settle", "done"}));
  const json& outcome = all.back();
  EXPECT_EQ(outcome["event"], "outcome");
  EXPECT_EQ(outcome["result"], "settled");
  EXPECT_EQ(outcome["exitStatus"], 0);
  EXPECT_EQ(outcome["startRpm"], 1500);
  EXPECT_EQ(outcome["peakRpm"], 2086);
  EXPECT_EQ(outcome["lastRpm"], 950);
  EXPECT_EQ(outcome["loadSeconds"], 45.0);
  EXPECT_EQ(outcome["products"], 11);
  EXPECT_EQ(outcome["message"],
            "reset worked: fan 0 went from 1500 rpm to a peak of 2086 rpm and settled at 950 rpm, "
            "having read 1000 rpm or below 3 samples in a row (45 s of load, 11 matrix products; "
            "settled 30 s after the load)");
}

// Into a pipe: a line at each phase and every 10 s, then the outcome; on a terminal one line
// redrawn, then fan 0 over the run as a sparkline and the outcome.
TEST(ResetCommand, ALogGetsALineEveryTenSecondsAndATerminalASparkline) {
  CliRun log = ventractl(kTower);
  ASSERT_EQ(log.status, 0) << log.err;
  auto lines = linesOf(log.out);
  ASSERT_EQ(lines.size(), 11u) << log.out;
  EXPECT_EQ(lines[0].substr(0, 16), "[   0.0 s] load:");
  EXPECT_EQ(lines[2], "[  10.0 s] load: fan 0 1500 rpm, 2 matrix products");
  EXPECT_EQ(lines[6].substr(0, 18), "[  45.0 s] settle:");
  EXPECT_EQ(lines.back().substr(0, 26), "[  75.0 s] reset worked: f");
  CliRun terminal = shell("script -qec '" VENTRACTL_PATH " " + kTower + "' /dev/null");
  ASSERT_EQ(terminal.status, 0) << terminal.out;
  EXPECT_NE(terminal.out.find("\r\x1b[Kload  12 s  fan 0 1500 rpm, 3 matrix products"),
            std::string::npos);
  EXPECT_NE(terminal.out.find("fan 0  ▄▄▄"), std::string::npos) << terminal.out;
  EXPECT_NE(terminal.out.find("██▇▇"), std::string::npos) << "the spike";
  EXPECT_NE(terminal.out.find("▁  950–2086 rpm"), std::string::npos) << "the fall";
  EXPECT_NE(terminal.out.find("reset worked"), std::string::npos);
}

TEST(ResetCommand, EachRoadEndsWithItsLineAndStatus) {
  struct Road {
    std::string line;
    int status;
    std::string starts;
  };
  const Road roads[] = {
      {kTower + " --max-load 20 --rise 1000", 1,
       "fan 0 neither rose nor came down: 20 s of load, 5 matrix products"},
      {"--profile " + towerWith("high", {{"fallRpmPerSecond", 0}}) +
           " reset --gpu fake --size 64 --settle 15",
       1, "fan 0 rose from 1500 rpm to 2086 rpm but had not read 1000 rpm or below 3 samples"},
      {"--profile " + towerWith("unreadable", json::object(), 6) + " reset --gpu fake --size 64", 1,
       "fan 0 could not be read after 3 s: the SMC refused to open"},
      {kTower + " --rise 3001", 2,
       "--rise 3001 is out of fan 0's reach: it turns at 1500 rpm and at most at 4500 rpm, so it "
       "can rise 3000 rpm at most; nothing was loaded"},
      {"--profile macpro5_1.json reset --gpu fake --size 64", 0,
       "nothing to reset: fan 0 turns at 952 rpm, at or below 1000 rpm"},
  };
  for (const auto& road : roads) {
    CliRun run = ventractl(road.line + " --json");
    EXPECT_EQ(run.status, road.status) << road.line << "\n" << run.err;
    auto all = events(run);
    ASSERT_FALSE(all.empty()) << road.line;
    EXPECT_EQ(all.back()["message"].get<std::string>().substr(0, road.starts.size()), road.starts)
        << road.line;
    EXPECT_EQ(all.back()["exitStatus"], road.status);
  }
}

TEST(ResetCommand, AFakeGpuNeedsASimulatedSmc) {
  CliRun run = ventractl("reset --gpu fake");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("give it an SMC with --profile"), std::string::npos) << run.err;
  EXPECT_EQ(ventractl(kTower + " --max-load 0").status, 2);
  EXPECT_EQ(ventractl(kTower + " --rise 0").status, 2);
}

// The words every outcome ends with, and the status a script or a unit sees.
TEST(ResetCommand, EveryOutcomeSaysWhatHappenedAndWhatToTry) {
  reset::ResetOptions options;
  reset::Outcome o;
  o.startRpm = 1500, o.peakRpm = 1520, o.lastRpm = 1510, o.loadSeconds = 300, o.products = 68;
  o.seconds = 301, o.endedIn = reset::Phase::load;
  auto line = [&](Result result) {
    o.result = result;
    return ctl::outcomeLine(o, options,
                            {"the host model test fails (...)", "driver not loaded", ""});
  };
  EXPECT_EQ(
      line(Result::neverRose),
      "fan 0 neither rose nor came down: 300 s of load, 68 matrix products left it at 1510 rpm "
      "(peak 1520 rpm; it has risen at 1800 rpm, its start plus --rise, and is reset once "
      "it has read 1000 rpm or below 3 samples in a row): try a longer --max-load, or a "
      "smaller --rise");
  o.lastRpm = 950, o.roseInASample = false;
  EXPECT_EQ(line(Result::settled),
            "reset worked: fan 0 came down from 1500 rpm to 950 rpm while the GPU worked, having "
            "read 1000 rpm or below 3 samples in a row; its spike, if any, fell between two "
            "samples (the highest read 1520 rpm) (300 s of load, 68 matrix products)");
  o.lastRpm = 1010, o.lastReadings = {1010, 994, 1002}, o.settleSeconds = 120;
  o.stoppedSeconds = 42;
  EXPECT_EQ(line(Result::didNotSettle),
            "fan 0 rose from 1500 rpm to 1520 rpm but had not read 1000 rpm or below 3 samples in "
            "a row within 120 s (its last readings 1010, 994, 1002 rpm): try a longer --settle, "
            "and watch it with 'ventractl watch' (the run was stopped for 42 s, not counted)");
  o.stoppedSeconds = 0, o.lastRpm = 1510;
  o.safety = reset::SafetyStop{89, 94};
  EXPECT_EQ(
      line(Result::neverRose),
      "the load stopped at 89 °C, 5 °C below the card's limit of 94 °C, before fan 0 answered "
      "(1510 rpm after 300 s of load, 68 matrix products): let the card cool and check its "
      "airflow, then try again");
  EXPECT_EQ(line(Result::notEligible),
            "not eligible: the host model test fails (...); --force tries the reset on this "
            "hardware anyway");
  EXPECT_EQ(line(Result::fanUnreadable), "fan 0 could not be read after 301 s: driver not loaded");
  o.problem = "the GPU failed: the device took no work";
  EXPECT_EQ(line(Result::gpuFailed),
            "the GPU failed: the device took no work (after 300 s of load, 68 matrix products); "
            "'ventractl gpu load' runs the GPU work alone");
  o.interruption = SIGTERM, o.endedIn = reset::Phase::load;
  EXPECT_EQ(line(Result::interrupted),
            "interrupted by SIGTERM in the load phase after 301 s: fan 0 1510 rpm (start 1500 "
            "rpm, peak 1520 rpm), 68 matrix products; the load is stopped");
  const std::pair<Result, int> statuses[] = {
      {Result::settled, 0},   {Result::nothingToReset, 0}, {Result::notEligible, 3},
      {Result::neverRose, 1}, {Result::didNotSettle, 1},   {Result::fanUnreadable, 1},
      {Result::gpuFailed, 1}, {Result::interrupted, 143},  {Result::riseOutOfReach, 2}};
  for (auto [result, status] : statuses) {
    o.result = result;
    EXPECT_EQ(ctl::exitStatusOf(o), status) << reset::resultName(result);
  }
}

#if VENTRA_LINUX_BACKENDS
// On this host's real driver, in real time: a signal ends the load within a block of rows and
// the reset says what it reached. The host is no Mac Pro, so the check is forced.
TEST(ResetCommand, ASignalEndsARealLoadAtOnceAndSaysWhatItReached) {
  for (auto [signal, status, name] :
       {std::tuple{"INT", 130, "Ctrl-C (SIGINT)"}, std::tuple{"TERM", 143, "SIGTERM"}}) {
    const auto started = std::chrono::steady_clock::now();
    CliRun run = shell(std::string(VENTRACTL_PATH) +
                       " --profile macpro5_1-stuck.json reset --force --allow-cpu --gpu vulkan "
                       "--size 512 --json & pid=$!; sleep 2; kill -" +
                       signal + " $pid; wait $pid");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    auto all = events(run);
    ASSERT_FALSE(all.empty()) << run.err;
    if (all.back()["result"] == "gpuFailed" || all.back()["result"] == "notEligible")
      GTEST_SKIP() << "no Vulkan device here: " << all.back()["message"];
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(all.back()["result"], "interrupted");
    EXPECT_NE(all.back()["message"].get<std::string>().find(std::string("interrupted by ") + name),
              std::string::npos)
        << all.back()["message"];
    EXPECT_LT(seconds, 6.0) << "a 512³ product is a fraction of a second on lavapipe";
  }
}

// The emulated fan feels the card's work however it is cut: the simulated card's long products
// on a virtual clock and lavapipe's short ones in real time take the same profile (a fan that
// rises after 2 s of load and falls 500 rpm a second) down the same road to the same figures.
TEST(ResetCommand, TheSimulatedCardAndARealDriverTakeTheFanTheSameWay) {
  const std::string tower =
      towerWith("quick", {{"loadSecondsToRise", 2}, {"fallRpmPerSecond", 500}});
  CliRun simulated = ventractl("--profile " + tower + " reset --gpu fake --size 64 --json");
  CliRun real =
      ventractl("--profile " + tower + " reset --force --allow-cpu --gpu vulkan --size 256 --json");
  auto fake = events(simulated).back(), lavapipe = events(real).back();
  if (lavapipe["result"] == "gpuFailed") GTEST_SKIP() << "no Vulkan device: " << lavapipe;
  for (const char* figure : {"result", "startRpm", "peakRpm", "lastRpm", "roseInASample"})
    EXPECT_EQ(fake[figure], lavapipe[figure]) << figure << "\n" << fake << "\n" << lavapipe;
  EXPECT_EQ(lavapipe["result"], "settled");
  EXPECT_EQ(real.status, 0) << real.err;
}

// Under MemoryDenyWriteExecute (here the kernel's own W^X, PR_SET_MDWE, which systemd also uses)
// a CPU device's compiler cannot run the code it writes: the process used to die of SIGSEGV at
// the first product. The stacks leave such devices out and the reset says why, forced or not.
TEST(ResetCommand, WhereWrittenCodeMayNotRunCpuDevicesAreLeftOutSayingWhy) {
  const std::string mdwe =
      "python3 -c 'import ctypes, os, sys\n"
      "if ctypes.CDLL(None).prctl(65, 1, 0, 0, 0) != 0: sys.exit(77)\n"
      "os.execv(sys.argv[1], sys.argv[1:])' ";
  CliRun run = shell(mdwe + VENTRACTL_PATH +
                     " --profile macpro5_1-stuck.json reset --force --allow-cpu --size 256 --json");
  if (run.status == 77) GTEST_SKIP() << "this kernel has no PR_SET_MDWE (Linux 6.3 and later)";
  EXPECT_EQ(run.status, 3) << run.err;
  auto all = events(run);
  ASSERT_FALSE(all.empty()) << run.err;
  const std::string message = all.back()["message"];
  EXPECT_TRUE(message.starts_with("not eligible: the GPU present test fails")) << message;
  EXPECT_NE(message.find("may not make memory it wrote executable"), std::string::npos) << message;
  EXPECT_EQ(all.back()["products"], 0);
}

// Off the Mac Pro the check says which test fails, and nothing is loaded.
TEST(ResetCommand, ThisHostIsNotEligibleAndNothingRuns) {
  CliRun run = ventractl("--profile macpro5_1-stuck.json reset --allow-cpu --gpu vulkan --json");
  EXPECT_EQ(run.status, 3) << run.err;
  auto all = events(run);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back()["result"], "notEligible");
  EXPECT_EQ(all.back()["products"], 0);
  EXPECT_TRUE(all.back()["message"].get<std::string>().starts_with(
      "not eligible: the host model test fails"))
      << all.back()["message"];
}
#endif

}  // namespace
}  // namespace ventra
