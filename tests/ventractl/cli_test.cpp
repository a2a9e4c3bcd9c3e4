// Runs the built ventractl against bundled profiles, as a user would.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli.h"
#include "command_specs.h"
#include "composition/emulated_smc.h"
#include "context.h"
#include "data_dirs.h"
#include "smc/smckit.h"
#include "value_format.h"

namespace ventra {
namespace {
using nlohmann::json;

struct CliRun {
  int status;
  std::string out, err;
  json document() const { return json::parse(out); }
};

// A shell command line run in the source tree, with its status and both outputs.
CliRun shell(const std::string& line) {
  // One file per process and call: ctest runs tests of this binary in parallel processes.
  static int calls = 0;
  std::string errPath = ::testing::TempDir() + "ventractl-stderr-" + std::to_string(getpid()) +
                        "-" + std::to_string(++calls) + ".txt";
  std::string command = "cd " VENTRA_SOURCE_DIR " && { " + line + "; } 2>" + errPath;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (std::size_t got = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  int status = pclose(pipe);
  std::stringstream err;
  err << std::ifstream(errPath).rdbuf();
  std::remove(errPath.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, err.str()};
}

CliRun ventractl(const std::string& arguments, const std::string& environment = "") {
  return shell(environment + VENTRACTL_PATH " " + arguments);
}

TEST(Ventractl, KeysJsonListsEveryKeyInIndexOrder) {
  CliRun run = ventractl("--profile profiles/example.json keys --json");
  ASSERT_EQ(run.status, 0) << run.err;
  json doc = run.document();
  EXPECT_EQ(doc["schema"], 1);
  const json& keys = doc["keys"];
  EXPECT_EQ(keys.size(), keys[0]["value"].get<std::size_t>()) << "#KEY counts every key";
  for (std::size_t i = 1; i < keys.size(); ++i)
    EXPECT_LT(keys[i - 1]["key"].get<std::string>(), keys[i]["key"].get<std::string>());
  EXPECT_EQ(keys[1]["key"], "F0Ac");
  EXPECT_EQ(keys[1]["value"], 952);
}

TEST(Ventractl, FansShowsTheSixMacProFans) {
  CliRun run = ventractl("--profile profiles/macpro5_1.json fans --json");
  ASSERT_EQ(run.status, 0) << run.err;
  json doc = run.document();
  const json& fans = doc["fans"];
  ASSERT_EQ(fans.size(), 6u);
  std::vector<std::string> names;
  for (const auto& fan : fans) names.push_back(fan["name"]);
  EXPECT_EQ(names,
            (std::vector<std::string>{"PCI", "PS", "EXHAUST", "INTAKE", "BOOSTA", "BOOSTB"}));
  EXPECT_EQ(fans[0]["minSpeed"], 800);
  EXPECT_EQ(fans[0]["maxSpeed"], 4500);
  EXPECT_EQ(fans[0]["currentSpeed"], 952);
}

TEST(Ventractl, TempsAllListsKnownAndUnknownAndMarksJunk) {
  CliRun run = ventractl("--profile profiles/macpro5_1.json temps --all --json --unit kelvin");
  ASSERT_EQ(run.status, 0) << run.err;
  json doc = run.document();
  EXPECT_EQ(doc["unit"], "kelvin");
  std::map<std::string, json> byKey;
  for (const auto& s : doc["sensors"]) byKey[s["key"]] = s;
  EXPECT_EQ(byKey["TA0P"]["name"], "AMBIENT_AIR_0");
  EXPECT_EQ(byKey["TA0P"]["known"], true);
  EXPECT_DOUBLE_EQ(byKey["TA0P"]["value"].get<double>(), 29 + 273.15);
  EXPECT_EQ(byKey["TCAD"]["name"], "Unknown");
  EXPECT_EQ(byKey["Te1S"]["junk"], true);
  EXPECT_EQ(byKey["TCAD"]["junk"], false);
}

TEST(Ventractl, OutputThatCannotBeWrittenIsAFailure) {
  CliRun run = ventractl("--profile profiles/macpro5_1.json keys >/dev/full");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot write the output"), std::string::npos) << run.err;
}

// The same bytes read the same in every command: read/keys decode as temps and msdi do.
TEST(Ventractl, EveryCommandDecodesTheSameBytesAlike) {
  std::string path = ::testing::TempDir() + "decoders-" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << R"({"keys": [{"key": "MSDI", "type": "flag", "bytes": "02"},
    {"key": "TC0P", "type": "sp78", "bytes": "8500"}]})";
  auto valueOf = [&](const std::string& key) {
    CliRun run = ventractl("--profile " + path + " read " + key + " --json");
    EXPECT_EQ(run.status, 0) << run.err;
    return run.document()["key"]["value"];
  };
  EXPECT_EQ(valueOf("MSDI"), false);
  EXPECT_EQ(ventractl("--profile " + path + " msdi --json").document()["msdi"], false);
  EXPECT_DOUBLE_EQ(valueOf("TC0P").get<double>(), -5.0);
  json temps = ventractl("--profile " + path + " temps --json").document();
  EXPECT_DOUBLE_EQ(temps["sensors"][0]["value"].get<double>(), -5.0);
  std::remove(path.c_str());
}

TEST(Ventractl, RawFanSpeedWritesMeetTheSameBoundUnlessForced) {
  std::string path = ::testing::TempDir() + "fanwrite-" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << R"({"keys": [{"key": "F0Mx", "type": "fpe2", "bytes": "4650"},
    {"key": "F0Mn", "type": "fpe2", "bytes": "0C80", "writable": true}]})";
  CliRun unsafe = ventractl("--profile " + path + " write F0Mn 4E20 --yes");  // 5000 > 4500
  EXPECT_EQ(unsafe.status, 1);
  EXPECT_NE(unsafe.err.find("outside 1 to 4500 rpm"), std::string::npos) << unsafe.err;
  EXPECT_EQ(ventractl("--profile " + path + " write F0Mn 0E10 --yes").status, 0);  // 900
  EXPECT_EQ(ventractl("--profile " + path + " write F0Mn 4E20 --yes --force").status, 0);
  std::remove(path.c_str());
}

TEST(Ventractl, SetFanMinWritesWithinBoundsOnly) {
  CliRun ok = ventractl("--profile profiles/macpro5_1.json set-fan-min 0 900 --yes --json");
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.document()["minSpeed"], 900);
  CliRun unsafe = ventractl("--profile profiles/macpro5_1.json set-fan-min 0 5000 --yes");
  EXPECT_EQ(unsafe.status, 1);
  EXPECT_NE(unsafe.err.find("unsafe fan speed"), std::string::npos) << unsafe.err;
  CliRun unconfirmed = ventractl("--profile profiles/macpro5_1.json set-fan-min 0 900");
  EXPECT_EQ(unconfirmed.status, 2);
  EXPECT_NE(unconfirmed.err.find("--yes"), std::string::npos);
}

TEST(Ventractl, FailuresGoToStderrWithNonZeroStatus) {
  struct Case {
    const char* arguments;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"--profile profiles/example.json read TB3T", 1, "SMC key not found: \"TB3T\""},
      {"--profile profiles/example.json read TOOLONG", 2, "four characters"},
      {"--profile /nonexistent.json keys", 1, "bad profile: /nonexistent.json"},
      {"--profile profiles/example.json frobnicate", 2, "unknown command"},
      {"--profile profiles/example.json set-fan-min 0 fast --yes", 2, "RPM must be a whole number"},
      {"--bogus keys", 2, "unknown option --bogus"},
      {"--profile profiles/README.md keys", 1, "not valid JSON"},
  };
  for (const auto& c : cases) {
    CliRun run = ventractl(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_TRUE(run.out.empty()) << c.arguments;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << "\n" << run.err;
  }
}

TEST(Ventractl, NotPrivilegedWriteCarriesAHint) {
  std::string path = ::testing::TempDir() + "locked-" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << R"({"notPrivileged": "writes", "keys": [
    {"key": "F0Mx", "type": "fpe2", "bytes": "4650"},
    {"key": "F0Mn", "type": "fpe2", "bytes": "0C80", "writable": true}]})";
  CliRun run = ventractl("--profile " + path + " set-fan-min 0 900 --yes");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("run it again with sudo"), std::string::npos) << run.err;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Piped, every sample is one record with its time: JSON lines, or comma-separated text under a
// header naming each fan and key.
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
  EXPECT_EQ(first["time"].get<std::string>().size(), 24u) << first["time"];  // ISO 8601, UTC, ms

  CliRun csv = ventractl(watch + " --all");
  ASSERT_EQ(csv.status, 0) << csv.err;
  auto lines = linesOf(csv.out);
  ASSERT_EQ(lines.size(), 3u) << csv.out;
  EXPECT_EQ(lines[0].rfind("time,round,fan0 PCI rpm,fan1 PS rpm,", 0), 0u) << lines[0];
  auto columns = [](const std::string& line) { return std::count(line.begin(), line.end(), ','); };
  EXPECT_EQ(columns(lines[1]), columns(lines[0]));
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
}

TEST(Ventractl, WatchStoppedByCtrlCExits130) {
  CliRun run = shell("timeout --preserve-status -s INT 0.5 " VENTRACTL_PATH
                     " --profile profiles/macpro5_1-hot.json watch --interval 0.05 >/dev/null");
  EXPECT_EQ(run.status, 130);
}

TEST(Ventractl, SimulateRunsTheDefaultScenarioAsJsonLines) {
  CliRun run = ventractl("simulate --json");
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  std::string line;
  std::vector<json> events;
  while (std::getline(lines, line)) events.push_back(json::parse(line));
  auto at = [&](const std::string& name) {
    for (const auto& e : events)
      if (e["event"] == name) return e["t"].get<double>();
    return -1.0;
  };
  EXPECT_EQ(at("deliverNotification"), 1.0);
  EXPECT_EQ(at("removeDeliveredNotification"), 10.0);
  EXPECT_EQ(at("gpuLoad"), 10.0);
  EXPECT_EQ(events.back()["event"], "terminate");
  CliRun bad = ventractl("simulate profiles/example.json");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("bad scenario: profiles/example.json: unknown field"), std::string::npos)
      << bad.err;
}

// What an SMC answers for each of its keys, read once: type, size, and value or failure.
std::vector<std::string> answersOf(const std::filesystem::path& profile) {
  ScopedComposition emulator(emulatedSmc(smc::emulator::loadProfileFile(profile)).composition);
  SMCKit::openConnection();
  std::vector<std::string> answers;
  for (const SMCKey& key : SMCKit::listAllKeys()) {
    std::string answer = fourCharCodeToString(key.code) + " " +
                         fourCharCodeToString(key.info.type) + "/" + std::to_string(key.info.size);
    try {
      auto bytes = SMCKit::readKey(key);
      answer += " ";
      answer += smc::emulator::hexFromBytes(bytes.data(), std::min(key.info.size, 32u));
    } catch (const SMCKit::SMCError& error) {
      answer += std::string(" ") + error.what();
    }
    answers.push_back(answer);
  }
  SMCKit::closeConnection();
  return answers;
}

TEST(Ventractl, SensorsShowsEverythingAndGoesOnPastAPartThatFails) {
  json view = ventractl("--profile profiles/macpro5_1.json sensors --json").document();
  EXPECT_EQ(view["fans"].size(), 6u);
  EXPECT_EQ(view["fans"][0]["name"], "PCI");
  std::set<std::string> keys;
  for (const auto& row : view["temperatures"]) keys.insert(row["key"]);
  EXPECT_TRUE(keys.contains("TA0P") && keys.contains("TCAD")) << "known and unknown";
  EXPECT_EQ(view["battery"]["batteryCount"], 0);
  EXPECT_EQ(view["msdi"], false);
  EXPECT_EQ(view["complete"], true);

  std::string path = ::testing::TempDir() + "sensors-" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << R"({"keys": [{"key": "FNum", "type": "ui8 ", "bytes": "00"},
    {"key": "MSDI", "type": "flag", "bytes": "00", "ioReturn": "0xE00002CA"}]})";
  CliRun run = ventractl("--profile " + path + " sensors --json");
  ASSERT_EQ(run.status, 0) << run.err;
  json broken = run.document();
  EXPECT_TRUE(broken["fans"].empty());
  EXPECT_TRUE(broken["msdi"].contains("error"));
  EXPECT_TRUE(broken["battery"].contains("error")) << "no battery keys at all";
  std::remove(path.c_str());
}

TEST(Ventractl, DumpCapturesAProfileThatAnswersAsTheMachineDid) {
  for (const auto& entry : std::filesystem::directory_iterator(VENTRA_SOURCE_DIR "/profiles")) {
    if (entry.path().extension() != ".json") continue;
    std::string dumped = ::testing::TempDir() + "dump-" + std::to_string(getpid()) + ".json";
    CliRun run = ventractl("--profile " + entry.path().string() + " dump -o " + dumped);
    ASSERT_EQ(run.status, 0) << entry.path() << ": " << run.err;
    EXPECT_EQ(answersOf(dumped), answersOf(entry.path())) << entry.path();
    std::remove(dumped.c_str());
  }
}

#if VENTRA_LINUX_BACKENDS
TEST(Ventractl, GpuSaysWhenThereIsNoGpuAndLoadsOnCpuDevicesWhenAllowed) {
  CliRun list = ventractl("gpu");
  if (list.status == 1)
    EXPECT_NE(list.err.find("no GPU found"), std::string::npos) << list.err;
  else
    EXPECT_EQ(list.status, 0) << list.err;  // a machine with a GPU lists it
  CliRun load = ventractl("gpu load --size 48 --allow-cpu --json");
  if (load.err.find("no OpenCL device") != std::string::npos) GTEST_SKIP() << "no OpenCL at all";
  ASSERT_EQ(load.status, 0) << load.err;
  json doc = load.document();
  EXPECT_EQ(doc["n"], 48);
  EXPECT_EQ(doc["verified"], true);
  EXPECT_EQ(doc["mismatches"], 0);
  EXPECT_TRUE(doc["phases"].contains("wait"));
}

// The default size on a CPU device would run for hours: refused from a short calibration.
TEST(Ventractl, GpuLoadRefusesWhatWouldRunForHours) {
  CliRun load = ventractl("gpu load --allow-cpu");
  if (load.err.find("no OpenCL device") != std::string::npos) GTEST_SKIP() << "no OpenCL at all";
  if (ventractl("gpu").status == 0) GTEST_SKIP() << "a real GPU may run the default size in time";
  EXPECT_EQ(load.status, 1);
  EXPECT_NE(load.err.find("would take about"), std::string::npos) << load.err;
  EXPECT_NE(load.err.find("--force"), std::string::npos) << load.err;
}

// On a terminal the wait shows the time so far beside the calibration's estimate.
TEST(Ventractl, GpuLoadWaitShowsElapsedTimeAndTheEstimate) {
  if (ventractl("gpu --allow-cpu").status != 0) GTEST_SKIP() << "no OpenCL device";
  CliRun run = shell("script -qec '" VENTRACTL_PATH " gpu load --size 1100 --allow-cpu' /dev/null");
  EXPECT_NE(run.out.find(" s of about "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("verified: every element of C is 1100"), std::string::npos) << run.out;
  CliRun piped = ventractl("gpu load --size 1100 --allow-cpu");
  EXPECT_EQ(piped.out.find("of about"), std::string::npos) << "no progress lines in a pipe";
}

TEST(Ventractl, AutostartEnablesStatusAndDisablesTheUsersEntry) {
  std::string config = ::testing::TempDir() + "autostart-" + std::to_string(getpid());
  std::string env = "XDG_CONFIG_HOME=" + config + " ";
  std::string entry = config + "/autostart/ventra.desktop";
  auto run = [&](const std::string& args) { return ventractl("autostart " + args, env); };
  EXPECT_NE(run("status").out.find("disabled"), std::string::npos);
  EXPECT_EQ(run("enable").status, 0);
  std::stringstream text;
  text << std::ifstream(entry).rdbuf();
  EXPECT_NE(text.str().find("Exec=ventra --launched-as-login-item"), std::string::npos);
  EXPECT_NE(run("status").out.find("enabled: " + entry), std::string::npos);
  EXPECT_EQ(run("disable").status, 0);
  EXPECT_FALSE(std::ifstream(entry).good());
  EXPECT_EQ(run("restart").status, 2);
  std::filesystem::remove_all(config);
}

TEST(Ventractl, CheckExplainsTheFirstFailingTest) {
  CliRun run = ventractl("--profile profiles/macpro5_1-hot.json check --json");
  json doc = run.document();
  if (doc["hostModel"] == "MacPro5,1") GTEST_SKIP() << "running on the real machine";
  EXPECT_EQ(run.status, 3) << "not eligible";
  EXPECT_EQ(doc["eligible"], false);
  EXPECT_EQ(doc["failedTest"], "host model");
  EXPECT_TRUE(doc["firstProbe"].is_null()) << "the SMC is not touched after a failed test";
  CliRun text = ventractl("--profile profiles/macpro5_1-hot.json check");
  EXPECT_NE(text.out.find("not eligible: the host model test fails"), std::string::npos)
      << text.out;
  if (doc["hostModel"].is_null()) {
    EXPECT_NE(text.out.find("unreadable"), std::string::npos) << "not an empty model";
  }
}
#else
// A build without the Linux backends has no host GPU, desktop or app: the commands that need
// them say so rather than failing some other way.
TEST(Ventractl, HostCommandsSayTheBuildHasNoLinuxBackends) {
  for (const char* command : {"gpu", "gpu load --size 8", "autostart status",
                              "--profile profiles/macpro5_1-hot.json check", "fans"}) {
    CliRun run = ventractl(command);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(run.err.find("without the Linux backends"), std::string::npos) << run.err;
  }
  EXPECT_EQ(ventractl("--profile profiles/macpro5_1-hot.json fans").status, 0);
}
#endif

TEST(Ventractl, VersionNamesTheCommitAndTheBackendsBuiltIn) {
  CliRun run = ventractl("--version");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("(commit "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(VENTRA_LINUX_BACKENDS ? "backends: applesmc" : "backends: emulator"),
            std::string::npos)
      << run.out;
}

// What a shell offers after the words typed so far, one candidate per line: bash runs the
// generated function, fish asks its own completion engine.
std::set<std::string> offered(const std::string& shell, const std::string& typed) {
  std::string script =
      ::testing::TempDir() + "completion-" + std::to_string(getpid()) + "." + shell;
  std::ofstream(script) << ventractl("completion " + shell).out;
  std::string command =
      shell == "bash" ? "bash -c 'source " + script + "; COMP_WORDS=(" + typed +
                            "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _ventractl; "
                            "printf \"%s\\n\" \"${COMPREPLY[@]}\"'"
                      : "fish --no-config -c 'source " + script + "; complete -C\"" + typed + "\"'";
  FILE* pipe = popen(command.c_str(), "r");
  std::set<std::string> lines;
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    std::string text(line);
    text = text.substr(0, text.find_first_of("\t\n"));
    if (!text.empty()) lines.insert(text);
  }
  pclose(pipe);
  std::remove(script.c_str());
  return lines;
}

bool haveShell(const std::string& shell) {
  return std::system(("command -v " + shell + " >/dev/null 2>&1").c_str()) == 0;
}

// Every command's options and arguments, as each shell offers them after that command.
TEST(Completion, EachCommandOffersItsOwnOptionsAndArguments) {
  for (std::string shell : {"bash", "fish"}) {
    if (!haveShell(shell)) {
      ADD_FAILURE() << shell << " is not installed (scripts/setup.sh installs it)";
      continue;
    }
    auto check = [&](const std::string& path, const ctl::CommandSpec& command) {
      auto options = offered(shell, "ventractl " + path + " --");
      std::set<std::string> expected{"--help"};
      for (const auto& key : command.options) expected.insert(ctl::longName(ctl::optionSpec(key)));
      EXPECT_EQ(options, expected) << shell << ": " << path;
    };
    for (const auto& command : ctl::commandSpecs()) {
      if (shell == "fish" && !command.subcommands.empty()) continue;  // fish: see below
      check(command.name, command);
      for (const auto& sub : command.subcommands) check(command.name + " " + sub.name, sub);
    }
    std::string blank = shell == "bash" ? " \"\"" : " ";
    EXPECT_EQ(offered(shell, "ventractl autostart" + blank),
              (std::set<std::string>{"disable", "enable", "status"}))
        << shell;
    EXPECT_TRUE(offered(shell, "ventractl gpu" + blank).contains("load")) << shell;
    EXPECT_EQ(offered(shell, "ventractl temps -u" + blank),
              (std::set<std::string>{"celsius", "fahrenheit", "kelvin"}))
        << shell;
    EXPECT_TRUE(offered(shell, "ventractl f").contains("fans")) << shell;
  }
}

// Options that share a long name with another command's option (--force): fish lists those of
// the subcommand it has seen, and the parent's are not offered after it.
TEST(Completion, FishTellsGpuFromGpuLoad) {
  if (!haveShell("fish")) GTEST_SKIP() << "no fish";
  EXPECT_EQ(offered("fish", "ventractl gpu --"),
            (std::set<std::string>{"--help", "--json", "--allow-cpu"}));
  EXPECT_EQ(offered("fish", "ventractl gpu load --"),
            (std::set<std::string>{"--help", "--json", "--allow-cpu", "--size", "--force"}));
}

TEST(Completion, TheZshScriptIsValidZsh) {
  if (!haveShell("zsh")) GTEST_SKIP() << "no zsh";
  std::string script = ::testing::TempDir() + "completion-" + std::to_string(getpid()) + ".zsh";
  std::ofstream(script) << ventractl("completion zsh").out;
  EXPECT_EQ(std::system(("zsh -n " + script).c_str()), 0);
  std::remove(script.c_str());
}

// The manual describes what the parser takes: every command and option, in roff's spelling.
TEST(Manual, DocumentsEveryCommandOptionAndExitStatus) {
  std::stringstream text;
  text << std::ifstream(VENTRA_SOURCE_DIR "/packaging/ventractl.1").rdbuf();
  const std::string manual = text.str();
  auto roff = [](const std::string& word) {
    std::string escaped;
    for (char c : word) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    return escaped;
  };
  auto documented = [&](const std::string& word) {
    return manual.find(".B " + roff(word)) != std::string::npos ||
           manual.find(".BI " + roff(word)) != std::string::npos ||
           manual.find(".BR " + roff(word)) != std::string::npos;
  };
  for (const auto& command : ctl::commandSpecs()) {
    EXPECT_TRUE(documented(command.name)) << command.name;
    for (const auto& sub : command.subcommands)
      EXPECT_TRUE(documented(command.name + " " + sub.name)) << sub.name;
  }
  for (const auto& option : ctl::optionSpecs())
    EXPECT_NE(manual.find(roff(ctl::longName(option))), std::string::npos) << option.key;
  for (const char* status : {".B 0\n", ".B 1\n", ".B 2\n", ".B 3\n", ".B 130\n"})
    EXPECT_NE(manual.find(status), std::string::npos) << status;
  EXPECT_NE(manual.find("now \\fB" + std::to_string(ctl::kSchemaVersion) + "\\fR"),
            std::string::npos)
      << "the schema version";
}

TEST(CommandLine, EachCommandTakesItsOwnOptionsInEitherSpelling) {
  auto parsed = ctl::parseCommandLine({"temps", "-j", "--profile=p.json", "-u", "kelvin", "--all"});
  EXPECT_EQ(parsed.words, std::vector<std::string>{"temps"});
  EXPECT_TRUE(parsed.options.json);
  EXPECT_TRUE(parsed.options.all);
  EXPECT_EQ(parsed.options.profile, "p.json");
  EXPECT_EQ(parsed.options.unit, "kelvin");
  EXPECT_EQ(ctl::parseCommandLine({"--profile", "p.json", "fans"}).options.profile, "p.json");
  EXPECT_EQ(ctl::parseCommandLine({"gpu", "load", "--size=64"}).words,
            (std::vector<std::string>{"gpu", "load"}));
  EXPECT_EQ(ctl::parseCommandLine({"set-fan-min", "0", "-5"}).words.back(), "-5");
  EXPECT_TRUE(ctl::parseCommandLine({}).words.empty());
}

// What the old parser let through: an option of another command, an option before its command,
// a value out of range, an argument too many.
TEST(CommandLine, MisplacedOptionsAndBadValuesAreUsageErrors) {
  const std::vector<std::vector<std::string>> lines = {{"fans", "--size", "5"},
                                                       {"fans", "--yes"},
                                                       {"fans", "--unit", "kelvin"},
                                                       {"--json", "fans"},
                                                       {"--profile", "p.json", "gpu"},
                                                       {"gpu", "--size", "64"},
                                                       {"temps", "--unit", "rankine"},
                                                       {"watch", "--interval", "nan"},
                                                       {"watch", "--interval", "-1"},
                                                       {"watch", "--count", "0"},
                                                       {"fans", "--profile"},
                                                       {"read"},
                                                       {"read", "F0Ac", "F1Ac"},
                                                       {"autostart", "maybe"},
                                                       {"gpu", "load", "--size", "40000"}};
  for (const auto& line : lines) EXPECT_THROW(ctl::parseCommandLine(line), ctl::UsageError);
  EXPECT_THROW(ctl::parseInteger("12x", "N", 0, 100), ctl::UsageError);
  EXPECT_THROW(ctl::parseInteger("101", "N", 0, 100), ctl::UsageError);
}

std::string usageError(const std::vector<std::string>& line) {
  try {
    ctl::parseCommandLine(line);
  } catch (const ctl::UsageError& error) {
    return error.what();
  }
  return "(parsed)";
}

TEST(CommandLine, MistakesAreExplainedWithASuggestion) {
  EXPECT_EQ(usageError({"fanz"}), "unknown command \"fanz\"; did you mean fans?");
  EXPECT_EQ(usageError({"gpu", "lod"}), "unknown gpu command \"lod\"; did you mean load?");
  EXPECT_EQ(usageError({"fans", "--jsn"}), "unknown option --jsn; did you mean --json?");
  EXPECT_EQ(usageError({"fans", "--size", "5"}),
            "fans does not take --size (an option of gpu load)");
  EXPECT_EQ(usageError({"--json", "fans"}), "--json goes after the command: ventractl fans --json");
  EXPECT_EQ(usageError({"fans", "--frobnicate"}), "unknown option --frobnicate");
}

TEST(Ventractl, HelpForEveryCommandListsItsOwnOptionsOnly) {
  auto check = [](const std::string& path, const ctl::CommandSpec& command) {
    CliRun run = ventractl(path + " --help");
    EXPECT_EQ(run.status, 0) << path;
    EXPECT_NE(run.out.find("Usage: ventractl " + path), std::string::npos) << run.out;
    for (const auto& option : ctl::optionSpecs()) {
      bool takes = std::find(command.options.begin(), command.options.end(), option.key) !=
                   command.options.end();
      bool shown = run.out.find(ctl::longName(option) + " ") != std::string::npos;
      if (takes) {
        EXPECT_TRUE(shown) << path << " " << option.key;
      }
      if (!shown) continue;
      // Another option may share the long name (--force): one of the command's own must.
      EXPECT_TRUE(std::any_of(
          command.options.begin(), command.options.end(),
          [&](auto& key) { return ctl::longName(ctl::optionSpec(key)) == ctl::longName(option); }))
          << path << " shows " << option.key;
    }
  };
  for (const auto& command : ctl::commandSpecs()) {
    check(command.name, command);
    for (const auto& sub : command.subcommands) check(command.name + " " + sub.name, sub);
  }
  CliRun top = ventractl("--help");
  EXPECT_NE(top.out.find("Exit status:"), std::string::npos);
  CliRun bare = ventractl("");
  EXPECT_EQ(bare.status, 0);
  EXPECT_NE(bare.out.find("set-fan-min FAN RPM"), std::string::npos) << bare.out;
  CliRun wrong = ventractl("fans --size 5 --yes --unit kelvin");
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("Try 'ventractl fans --help'"), std::string::npos) << wrong.err;
}

}  // namespace
}  // namespace ventra

namespace ventra::ctl {
namespace {

// An installed ventractl reads its data beside itself or in XDG_DATA_DIRS; only a binary in its
// own build folder may fall back to the checkout.
TEST(DataDirectories, InstalledBinariesNeverLookInTheSourceTree) {
  auto installed = dataDirectories("/opt/v/bin", "/a:relative::/b");
  EXPECT_EQ(installed, (std::vector<std::filesystem::path>{"/opt/v/bin/../share/ventra",
                                                           "/a/ventra", "/b/ventra"}));
  EXPECT_EQ(dataDirectories("/opt/v/bin", nullptr).back(), "/usr/share/ventra");
  auto built = dataDirectories(std::filesystem::path(VENTRACTL_PATH).parent_path(), "");
  EXPECT_EQ(built.back(), VENTRA_SOURCE_DIR);
}

}  // namespace
}  // namespace ventra::ctl

namespace ventra::ctl {
namespace {

SMCDataBytes bytesOf(std::initializer_list<std::uint8_t> values) {
  SMCDataBytes bytes{};
  std::copy(values.begin(), values.end(), bytes.begin());
  return bytes;
}

DataType typeOf(const char* code, std::uint32_t size) {
  return {*fourCharCodeFromLiteral(code), size};
}

TEST(ValueFormat, CommonTypesDecodeForDisplayAndTheRestStayHex) {
  EXPECT_EQ(decodeValue(typeOf("{rev", 6), bytesOf({0x01, 0x39, 0x0F, 0x00, 0x00, 0x11})),
            "1.39f11");
  EXPECT_EQ(decodeValue(typeOf("ch8*", 8), bytesOf({'M', 'a', 'c', 'P', 'r', 'o', 0, 0})),
            "MacPro");
  EXPECT_TRUE(decodeValue(typeOf("ch8*", 2), bytesOf({'A', 0x1B})).is_null()) << "not printable";
  EXPECT_EQ(decodeValue(typeOf("hex_", 1), bytesOf({0x42})), 66);
  EXPECT_EQ(decodeValue(typeOf("si16", 2), bytesOf({0xFF, 0xFE})), -2);
  EXPECT_EQ(decodeValue(typeOf("sp78", 2), bytesOf({0x85, 0x00})), -5.0);
  EXPECT_EQ(decodeValue(typeOf("flag", 1), bytesOf({0x02})), false);
  EXPECT_TRUE(decodeValue(typeOf("flt ", 4), bytesOf({1, 2, 3, 4})).is_null());
  EXPECT_TRUE(decodeValue(typeOf("fpe2", 3), bytesOf({1, 2, 3})).is_null()) << "wrong size";
}

}  // namespace
}  // namespace ventra::ctl
