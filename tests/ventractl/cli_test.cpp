// Runs the built ventractl against bundled profiles, as a user would.
#include <sys/resource.h>
#include <sys/stat.h>
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

#include "commands/session.h"
#include "composition/emulated_smc.h"
#include "host/data_dirs.h"
#include "host/desktop_entry.h"
#include "host/sudo_line.h"
#include "line/cli.h"
#include "line/command_definitions.h"
#include "smc/hex_bytes.h"
#include "smc/smc_access.h"
#include "ventractl/cli_run.h"
#include "views/value_format.h"

namespace ventra {
namespace {
using nlohmann::json;

using testing::CliRun;
using testing::linesOf;
using testing::shell;
using testing::ventractl;

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

  CliRun one = ventractl("--profile profiles/macpro5_1.json fans 2 --json");
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.document()["fans"], json::array({fans[2]})) << "fan 2 alone, as listed";
  CliRun none = ventractl("--profile profiles/macpro5_1.json fans 7");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no fan 7 (this machine has fans 0–5)"), std::string::npos) << none.err;
}

// read takes several keys: one JSON document with each, the unknown one said on stderr while
// the others are still read, and status 1.
TEST(Ventractl, ReadTakesSeveralKeys) {
  CliRun two = ventractl("--profile profiles/macpro5_1.json read F0Ac FNum --json");
  ASSERT_EQ(two.status, 0) << two.err;
  json keys = two.document()["keys"];
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0]["value"], 952);
  EXPECT_EQ(keys[1]["key"], "FNum");
  CliRun gap = ventractl("--profile profiles/macpro5_1.json read F0Ac ZZZZ FNum");
  EXPECT_EQ(gap.status, 1);
  EXPECT_EQ(linesOf(gap.out).size(), 2u) << gap.out;
  EXPECT_NE(gap.err.find("ZZZZ: SMC key not found"), std::string::npos) << gap.err;
  EXPECT_EQ(ventractl("--profile profiles/macpro5_1.json read F0Ac --json").document()["key"],
            keys[0])
      << "one key keeps its own document";
}

// Text output says the battery's flags in words; JSON keeps the layer's names. -u takes the
// unit's letter too.
TEST(Ventractl, BatteryInWordsAndUnitLetters) {
  CliRun battery = ventractl("--profile profiles/macpro5_1.json battery");
  EXPECT_NE(battery.out.find("AC power present  yes"), std::string::npos) << battery.out;
  EXPECT_EQ(battery.out.find("isACPresent"), std::string::npos);
  EXPECT_TRUE(ventractl("--profile profiles/macpro5_1.json battery -j")
                  .document()["battery"]
                  .contains("isACPresent"));
  for (const auto& [letter, name] :
       {std::pair{"F", "fahrenheit"}, {"K", "kelvin"}, {"C", "celsius"}})
    EXPECT_EQ(ventractl(std::string("--profile profiles/macpro5_1.json temps -u ") + letter).out,
              ventractl(std::string("--profile profiles/macpro5_1.json temps -u ") + name).out)
        << letter;
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
  EXPECT_NE(ok.err.find("the profile file is unchanged"), std::string::npos) << ok.err;
  CliRun unsafe = ventractl("--profile profiles/macpro5_1.json set-fan-min 0 99999 --yes");
  EXPECT_EQ(unsafe.status, 1);
  EXPECT_NE(unsafe.err.find("99999 rpm is outside fan 0's range for a minimum: 1 to 4500 rpm"),
            std::string::npos)
      << unsafe.err;
  CliRun noFan = ventractl("--profile profiles/macpro5_1.json set-fan-min 9 900 --yes");
  EXPECT_EQ(noFan.status, 1);
  EXPECT_NE(noFan.err.find("no fan 9 (this machine has fans 0–5)"), std::string::npos) << noFan.err;
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

// An emulated SMC that refuses a write refuses it for root too: the hint names the profile's
// setting, not sudo (the hint on the host's driver is SudoLine's, and the stand-in's as nobody).
TEST(Ventractl, NotPrivilegedWriteCarriesAHint) {
  std::string path = ::testing::TempDir() + "locked-" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << R"({"notPrivileged": "writes", "keys": [
    {"key": "F0Mx", "type": "fpe2", "bytes": "4650"},
    {"key": "F0Mn", "type": "fpe2", "bytes": "0C80", "writable": true}]})";
  CliRun run = ventractl("--profile " + path + " set-fan-min 0 900 --yes");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("(the profile's SMC refuses it: its \"notPrivileged\" setting)"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("sudo"), std::string::npos) << run.err;
}

// The entry names the app by its absolute path, quoted and escaped by the desktop entry rules
// where the path needs it; every other line stays as installed.
TEST(DesktopEntry, TheAppByItsAbsolutePathWithTryExec) {
  const std::string installed =
      "[Desktop Entry]\nName=Ventra\nExec=ventra --launched-as-login-item\nNoDisplay=true\n";
  EXPECT_EQ(ctl::entryRunning(installed, "/home/ann/.local/bin/ventra"),
            "[Desktop Entry]\nName=Ventra\nTryExec=/home/ann/.local/bin/ventra\n"
            "Exec=/home/ann/.local/bin/ventra --launched-as-login-item\nNoDisplay=true\n");
  // In the Exec quotes "\" and "$" take a backslash each; then every backslash doubles as in
  // any string value.
  EXPECT_EQ(ctl::entryRunning("TryExec=old\nExec=ventra\n", R"(/opt/my apps/100\$HOME/ventra)"),
            R"(TryExec=/opt/my apps/100\\$HOME/ventra
Exec="/opt/my apps/100\\\\\\$HOME/ventra"
)");
  EXPECT_FALSE(ctl::entryRunning("[Desktop Entry]\nName=Ventra\n", "/usr/bin/ventra"))
      << "an entry that runs nothing";
}

// What no entry can start as written is refused, not written wrong: a newline would add a line
// of its own, bytes that are not UTF-8 make the entry invalid, and desktops look for a program
// named with the "%%" an Exec line must double a "%" into.
TEST(DesktopEntry, APathNoEntryCanRunIsRefused) {
  EXPECT_FALSE(ctl::whyNoEntryCanRun("/opt/my apps/100\\$HOME/ventra"));
  const std::pair<std::string, std::string> refused[] = {
      {"/opt/a\nExec=/tmp/evil/ventra", "control character"},
      {"/opt/\xFF/ventra", "is not UTF-8"},
      {"/opt/100%/ventra", "holds a \"%\""},
  };
  for (const auto& [path, why] : refused) {
    auto problem = ctl::whyNoEntryCanRun(path);
    ASSERT_TRUE(problem) << path;
    EXPECT_NE(problem->find(why), std::string::npos) << *problem;
    EXPECT_EQ(problem->find('\n'), std::string::npos) << "shown escaped";
  }
}

// sudo searches only its secure path: elsewhere the command is named in full, and every word
// reads back as typed in a shell.
TEST(SudoLine, FullPathOffTheSecurePathAndQuotedWords) {
  EXPECT_EQ(ctl::sudoLine("/usr/bin/ventractl", {"read", "MSSD"}), "sudo ventractl read MSSD");
  EXPECT_EQ(ctl::sudoLine("/home/ann/.local/bin/ventractl", {"keys"}),
            "sudo /home/ann/.local/bin/ventractl keys");
  EXPECT_EQ(ctl::sudoLine("/opt/my tools/ventractl", {"read", "REV ", "it's", ""}),
            "sudo '/opt/my tools/ventractl' read 'REV ' 'it'\\''s' ''");
  EXPECT_EQ(ctl::sudoLine("/usr/bin/ventractl", {"--profile", "=ls", "a=b"}),
            "sudo ventractl --profile '=ls' a=b")
      << "zsh would expand =ls";
}

// The peak memory of a ventractl command, in KiB, as the kernel counts it for the child.
long peakKibibytes(const std::vector<std::string>& arguments) {
  pid_t child = fork();
  if (child == 0) {
    std::vector<char*> argv{const_cast<char*>(VENTRACTL_PATH)};
    for (const auto& word : arguments) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout)) _exit(127);
    execv(VENTRACTL_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

// Checking C reads it back a slice at a time, each no larger than C: a product of 1 × 1 costs no
// more memory than listing the devices.
TEST(Ventractl, GpuLoadChecksASmallResultWithLittleMemory) {
  const long listing = peakKibibytes({"gpu", "--gpu", "fake"});
  const long load = peakKibibytes({"gpu", "load", "--gpu", "fake", "--size", "1"});
  ASSERT_GT(listing, 0);
  ASSERT_GT(load, 0);
  EXPECT_LT(load, listing + 16 * 1024) << "KiB at its peak";
}

// In the owner's words: a Mac Pro's keys by the names the machine gives them, no battery table on
// a desktop, the MSDI flag said in words, and what only root may read said as such; each
// command's --gpu help about that command.
TEST(Ventractl, SensorsSpeakTheOwnersLanguage) {
  CliRun sensors = ventractl("--profile profiles/macpro5_1.json sensors");
  ASSERT_EQ(sensors.status, 0) << sensors.err;
  for (const char* line : {"Drive bay 1             TH1P", "PCIe slot 1             Te1S",
                           "CPU A heatsink          TCAH", "Memory 8                TM8P",
                           "Battery: none\n", "MSDI (a disc in the optical drive): no\n"})
    EXPECT_NE(sensors.out.find(line), std::string::npos) << line << "\n" << sensors.out;
  EXPECT_NE(sensors.out.find("(no name known)         THTG"), std::string::npos)
      << "a key nothing public names is listed, without a name";
  std::string denied = ::testing::TempDir() + "denied-" + std::to_string(getpid()) + ".json";
  std::ofstream(denied) << R"({"notPrivileged": "all", "keys": []})";
  CliRun locked = ventractl("--profile " + denied + " sensors");
  EXPECT_NE(locked.out.find("Battery: needs root\n"), std::string::npos) << locked.out;
  std::remove(denied.c_str());
  EXPECT_EQ(ventractl("check --help").out.find("(simulate"), std::string::npos);
  EXPECT_EQ(ventractl("gpu load --help").out.find("(simulate"), std::string::npos);
  EXPECT_NE(ventractl("simulate --help").out.find("the scenario's own (default)"),
            std::string::npos);
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
  SMCAccess::openConnection();
  std::vector<std::string> answers;
  for (const SMCKey& key : SMCAccess::listAllKeys()) {
    std::string answer = fourCharCodeToString(key.code) + " " +
                         fourCharCodeToString(key.info.type) + "/" + std::to_string(key.info.size);
    try {
      auto bytes = SMCAccess::readKey(key);
      answer += " ";
      answer += hexFromBytes(bytes.data(), std::min(key.info.size, 32u));
    } catch (const SMCAccess::SMCError& error) {
      answer += std::string(" ") + error.what();
    }
    answers.push_back(answer);
  }
  SMCAccess::closeConnection();
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

}  // namespace
}  // namespace ventra

namespace ventra::ctl {
namespace {

// An installed ventractl reads its data beside itself or in XDG_DATA_DIRS; only a binary in its
// own build folder may fall back to the checkout.
TEST(DataDirectories, InstalledBinariesNeverLookInTheSourceTree) {
  auto installed = dataDirectories("/opt/v/bin", "/a:relative::/b");
  EXPECT_EQ(installed,
            (std::vector<std::filesystem::path>{"/opt/v/share/ventra", "/a/ventra", "/b/ventra"}));
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
