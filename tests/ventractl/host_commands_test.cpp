// The commands that need the host's backends (GPU, desktop, autostart), as this build has them.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "ventractl/cli_run.h"

#if VENTRA_LINUX_BACKENDS
#include "gpu/platform/tile/kernel_tile.h"
#endif

namespace ventra {
namespace {
using nlohmann::json;
using testing::CliRun;
using testing::shell;
using testing::ventractl;

#if VENTRA_LINUX_BACKENDS
TEST(Ventractl, GpuSaysWhenThereIsNoGpuAndLoadsOnCpuDevicesWhenAllowed) {
  CliRun list = ventractl("gpu");
  if (list.status == 1)
    EXPECT_NE(list.err.find("no GPU found"), std::string::npos) << list.err;
  else
    EXPECT_EQ(list.status, 0) << list.err;  // a machine with a GPU lists it
  CliRun load = ventractl("gpu load --size 48 --allow-cpu --json");
  if (load.err.find("no GPU found") != std::string::npos) GTEST_SKIP() << "no device on any stack";
  ASSERT_EQ(load.status, 0) << load.err;
  json doc = load.document();
  EXPECT_EQ(doc["n"], 48);
  EXPECT_EQ(doc["verified"], true);
  EXPECT_EQ(doc["mismatches"], 0);
  EXPECT_TRUE(doc["phases"].contains("wait"));
}

// Where the drivers are installed and answer with CPU devices alone, the GPU is what is missing,
// not a driver; where no driver answers at all, the driver packages are named.
TEST(Ventractl, OnlyCpuDevicesAreNotAMissingDriver) {
  CliRun cpus = ventractl("gpu --allow-cpu --json");
  CliRun list = ventractl("gpu");
  if (cpus.status != 0 || list.status == 0) GTEST_SKIP() << "a GPU here, or no CPU device";
  EXPECT_NE(list.err.find("only CPU devices ("), std::string::npos) << list.err;
  EXPECT_NE(list.err.find("the card needs its kernel driver"), std::string::npos) << list.err;
  EXPECT_EQ(list.err.find("Install a driver"), std::string::npos) << list.err;
  CliRun none = ventractl("gpu", "VK_ICD_FILENAMES=/nonexistent OCL_ICD_VENDORS=/nonexistent ");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("Install a driver: mesa-vulkan-drivers"), std::string::npos) << none.err;
}

// A driver that would not start is named as such, not as a missing one. Here lavapipe, short of
// address space; the Vulkan loader says the same of a host with no driver, so both are named.
TEST(Ventractl, GpuNamesADriverThatWouldNotStart) {
  if (std::getenv("ASAN_OPTIONS")) GTEST_SKIP() << "the sanitizers need more address space";
  CliRun run = shell("ulimit -v 100000; " VENTRACTL_PATH " gpu --gpu vulkan --allow-cpu");
  if (run.status == 0) GTEST_SKIP() << "lavapipe started in 100 MB here";
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Vulkan could not start a driver"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("or memory ran short"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Install a driver"), std::string::npos) << run.err;
}

// The tuner tries every tile on the device and stores the fastest for it and its driver; the
// load then runs with it. A stored tile the tuner would not pick is forgotten, said, and never
// used; a file that is no store is said and left alone by the load.
// --tiles tries only the tiles named, once each in the order given; a name the tuner does not
// know is refused before any work, with the names it does.
TEST(Ventractl, GpuTuneTriesOnlyTheTilesNamed) {
  const std::string env =
      "XDG_CACHE_HOME=" + ::testing::TempDir() + "tiles-" + std::to_string(getpid()) + " ";
  CliRun tune = ventractl(
      "gpu tune --allow-cpu --size 32 --json --tiles 8x1x8x8-direct,16x16x8x8x8,8x1x8x8-direct",
      env);
  if (tune.err.find("no Vulkan device") != std::string::npos) GTEST_SKIP() << tune.err;
  ASSERT_EQ(tune.status, 0) << tune.err;
  const json found = tune.document();
  ASSERT_EQ(found["trials"].size(), 2u) << found.dump();
  EXPECT_EQ(found["trials"][0]["tile"], "8x1x8x8-direct");
  EXPECT_EQ(found["trials"][1]["tile"], "16x16x8x8x8");
  CliRun unknown = ventractl("gpu tune --allow-cpu --tiles 8x1x8x8-direct,1x1x1x1x1024", env);
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "") << "refused before any work";
  EXPECT_NE(unknown.err.find("1x1x1x1x1024 is not a tile gpu tune tries; it tries 16x16x8x8x8, "),
            std::string::npos)
      << unknown.err;
  EXPECT_NE(ventractl("gpu tune --tiles a,,b", env).err.find("none of them empty"),
            std::string::npos);
}

TEST(Ventractl, GpuTuneStoresTheFastestTileAndTheLoadUsesIt) {
  const std::string cache = ::testing::TempDir() + "tune-" + std::to_string(getpid());
  const std::string env = "XDG_CACHE_HOME=" + cache + " ";
  CliRun tune = ventractl("gpu tune --allow-cpu --size 64 --json", env);
  if (tune.err.find("no Vulkan device") != std::string::npos) GTEST_SKIP() << tune.err;
  ASSERT_EQ(tune.status, 0) << tune.err;
  json found = tune.document();
  const auto candidates = gpu::tile::tuningCandidates();
  ASSERT_EQ(found["trials"].size(), candidates.size());
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    EXPECT_EQ(found["trials"][i]["tile"], candidates[i].text());
    EXPECT_TRUE(found["trials"][i]["gflops"].is_number()) << found["trials"][i].dump();
  }
  EXPECT_EQ(found["stored"], cache + "/ventra/tiles.json");
  json listed = ventractl("gpu --allow-cpu --gpu vulkan --json", env).document();
  EXPECT_EQ(listed["devices"][0]["kernel"],
            "our shader, tile " + found["best"].get<std::string>() + " (tuned on this device)");
  // Tuned again, each tile's line counts and estimates; the tile stored before stays unless the
  // fastest beats this run's time of it by more than 5 %.
  CliRun again = ventractl("gpu tune --allow-cpu --size 64", env);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("  [1/" + std::to_string(candidates.size()) + "] "), std::string::npos)
      << again.out;
  EXPECT_NE(again.out.find(" s left\n"), std::string::npos) << again.out;
  const json stored = json::parse(std::ifstream(cache + "/ventra/tiles.json"));
  const std::string now = stored["tiles"][0]["tile"];
  const bool replaced = now != found["best"].get<std::string>();
  EXPECT_EQ(again.out.find("; kept " + found["best"].get<std::string>()) != std::string::npos,
            !replaced && again.out.find("fastest: " + now + " ") == std::string::npos)
      << again.out;
  EXPECT_NE(again.out.find("'ventractl gpu tune --forget'"), std::string::npos) << again.out;
  CliRun forget = ventractl("gpu tune --allow-cpu --forget", env);
  EXPECT_NE(forget.out.find("forgot " + now + ", tuned for "), std::string::npos) << forget.out;
  EXPECT_NE(ventractl("gpu tune --allow-cpu --forget", env).out.find("nothing to forget"),
            std::string::npos);
  EXPECT_EQ(ventractl("gpu tune --help").out.find("16384"), std::string::npos)
      << "gpu tune calibrates its own size";
  // Fits the device, and would make a product of 512 take minutes.
  std::ofstream(cache + "/ventra/tiles.json") << json{
      {"tiles",
       {{{"device", found["device"]},
         {"driver", found["driver"]},
         {"tile", "1x1x1x1x1024"}}}}}.dump();
  CliRun load = ventractl("gpu load --allow-cpu --gpu vulkan --size 64", env);
  EXPECT_EQ(load.status, 0) << load.err;
  EXPECT_NE(load.err.find("is forgotten (the tile 1x1x1x1x1024 is not one 'ventractl gpu tune' "
                          "tries); the default is used"),
            std::string::npos)
      << load.err;
  EXPECT_EQ(json::parse(std::ifstream(cache + "/ventra/tiles.json"))["tiles"].size(), 0u);
  std::ofstream(cache + "/ventra/tiles.json") << "{\"tiles\": []}" << '\0' << "garbage";
  CliRun damaged = ventractl("gpu load --allow-cpu --gpu vulkan --size 64", env);
  EXPECT_EQ(damaged.status, 0) << damaged.err;
  EXPECT_NE(damaged.err.find("tiles.json is not used: it holds a NUL byte; the default tile is "
                             "used"),
            std::string::npos)
      << damaged.err;
  CliRun forgetDamaged = ventractl("gpu tune --allow-cpu --forget", env);
  EXPECT_EQ(forgetDamaged.status, 1);
  EXPECT_NE(forgetDamaged.err.find("it holds a NUL byte"), std::string::npos) << forgetDamaged.err;
  std::filesystem::remove_all(cache);
}

// The default size on a CPU device would run for hours: refused from a short calibration.
// Both stacks' devices in one list, each with its stack; a load pinned to Vulkan verifies C.
TEST(Ventractl, GpuListsEveryStacksDevicesAndLoadsOnThePinnedOne) {
  CliRun list = ventractl("gpu --allow-cpu --json");
  if (list.status != 0) GTEST_SKIP() << "no device on any stack: " << list.err;
  std::set<std::string> stacks;
  const json listed = list.document();
  for (const auto& device : listed["devices"])
    stacks.insert(device["stack"].get<std::string>().substr(0, 6));  // "Vulkan", "OpenCL"
  for (const char* stack : {"Vulkan", "OpenCL"})  // lavapipe and PoCL, where installed
    if (!stacks.contains(stack)) GTEST_SKIP() << "no " << stack << " device here";
  CliRun load = ventractl("gpu load --allow-cpu --gpu vulkan --size 1000 --json");
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(load.document()["verified"], true);
  const json pinned = ventractl("gpu --allow-cpu --gpu opencl --json").document();
  EXPECT_FALSE(pinned["devices"].empty());
  for (const auto& device : pinned["devices"])
    EXPECT_EQ(device["stack"].get<std::string>().find("Vulkan"), std::string::npos);
}

// The stack the app uses: VENTRA_GPU, else GPUBackend in defaults.ini, else Vulkan first.
TEST(Ventractl, TheUserPinsTheStackByVariableOrSetting) {
  auto defaultStack = [](const std::string& environment) {
    CliRun run = ventractl("gpu --allow-cpu --json", environment);
    EXPECT_EQ(run.status, 0) << run.err;
    const json listed = run.status == 0 ? run.document() : json{{"devices", json::array()}};
    for (const auto& device : listed["devices"])
      if (device["default"] == true)
        return device["stack"].get<std::string>().substr(0, 6) + run.err;
    return "none" + run.err;
  };
  if (defaultStack("VENTRA_GPU=opencl ") != "OpenCL" ||
      defaultStack("VENTRA_GPU=vulkan ") != "Vulkan")
    GTEST_SKIP() << "this host lacks lavapipe or PoCL";
  std::string config = ::testing::TempDir() + "gpu-choice-" + std::to_string(getpid());
  std::filesystem::create_directories(config + "/ventra");
  std::ofstream(config + "/ventra/defaults.ini") << "[Ventra]\nGPUBackend = opencl\n";
  EXPECT_EQ(defaultStack("XDG_CONFIG_HOME=" + config + " "), "OpenCL");
  EXPECT_EQ(defaultStack("XDG_CONFIG_HOME=" + config + " VENTRA_GPU=vulkan "), "Vulkan");
  EXPECT_EQ(defaultStack("VENTRA_GPU=auto "), "Vulkan");
  std::string refused = defaultStack("VENTRA_GPU=cuda ");
  EXPECT_EQ(refused.substr(0, 6), "Vulkan");
  EXPECT_NE(refused.find("VENTRA_GPU = \"cuda\" names no GPU stack"), std::string::npos) << refused;
  refused = defaultStack("VENTRA_GPU=fake ");  // the simulated card is ventractl's, not the app's
  EXPECT_NE(refused.find("VENTRA_GPU = \"fake\" names no GPU stack"), std::string::npos) << refused;
  std::filesystem::remove_all(config);
}

// simulate --gpu puts the host's stack in place of the scenario's GPUs (lavapipe is no RX 580).
TEST(Ventractl, SimulateRunsTheAppOnTheChosenStack) {
  CliRun run = ventractl("simulate scenarios/default.json --gpu vulkan --allow-cpu --json");
  if (run.out.find("\"count\":0") != std::string::npos) GTEST_SKIP() << "no Vulkan device here";
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"event\":\"gpuDefaultDevice\",\"found\":true"), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("gpuLoad"), std::string::npos) << "the identity test stops the app";
}

// lavapipe allocates at most 2 GiB at once: a 2.1 GB matrix is refused, and the message says
// which allocation and how much.
TEST(Ventractl, GpuLoadSaysWhichAllocationFailedAndHowMuchWasAsked) {
  CliRun run = ventractl("gpu load --gpu vulkan --allow-cpu --size 23200 --force");
  if (run.err.find("no GPU found") != std::string::npos) GTEST_SKIP() << "no Vulkan device here";
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no buffer A (2152960000 bytes asked for"), std::string::npos) << run.err;
}

TEST(Ventractl, GpuLoadRefusesWhatWouldRunForHours) {
  CliRun load = ventractl("gpu load --allow-cpu");
  if (load.err.find("no GPU found") != std::string::npos) GTEST_SKIP() << "no device on any stack";
  if (ventractl("gpu").status == 0) GTEST_SKIP() << "a real GPU may run the default size in time";
  EXPECT_EQ(load.status, 1);
  EXPECT_NE(load.err.find("would take about"), std::string::npos) << load.err;
  EXPECT_NE(load.err.find("--force"), std::string::npos) << load.err;
}

// On a terminal the wait shows the time so far beside the calibration's estimate.
TEST(Ventractl, GpuLoadWaitShowsElapsedTimeAndTheEstimate) {
  if (ventractl("gpu --allow-cpu").status != 0) GTEST_SKIP() << "no device on any stack";
  CliRun run = shell("script -qec '" VENTRACTL_PATH " gpu load --size 1100 --allow-cpu' /dev/null");
  EXPECT_NE(run.out.find(" s of about "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("verified: every element of C is 1100"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("compiling the kernels"), std::string::npos) << "not a silent wait";
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
  // This ventractl's own app, by its absolute path: the session's PATH may not hold it.
  const auto app =
      std::filesystem::path(VENTRACTL_PATH).parent_path().parent_path() / "ventra" / "ventra";
  EXPECT_NE(text.str().find("\nTryExec=" + app.string() + "\nExec=" + app.string() +
                            " --launched-as-login-item\n"),
            std::string::npos)
      << text.str();
  EXPECT_NE(run("status").out.find("enabled: " + entry), std::string::npos);
  EXPECT_EQ(run("disable").status, 0);
  EXPECT_FALSE(std::ifstream(entry).good());
  EXPECT_EQ(run("restart").status, 2);
  std::filesystem::remove_all(config);
}

// A relative XDG_CONFIG_HOME is ignored, as the XDG rules say: the entry goes under $HOME.
// Text from outside that is not UTF-8 (here a HOME) stays valid JSON, its bytes replaced with
// U+FFFD, and is shown escaped in text.
TEST(Ventractl, AutostartStatusOfAHomeThatIsNotUtf8) {
  const std::string home = ::testing::TempDir() + "home\xFF" + std::to_string(getpid());
  CliRun asJson = ventractl("autostart status --json", "XDG_CONFIG_HOME= HOME='" + home + "' ");
  ASSERT_EQ(asJson.status, 0) << asJson.err;
  EXPECT_NE(asJson.document()["entry"].get<std::string>().find("home\uFFFD"), std::string::npos);
  CliRun text = ventractl("autostart status", "XDG_CONFIG_HOME= HOME='" + home + "' ");
  EXPECT_NE(text.out.find("home\\xFF"), std::string::npos) << text.out;
}

TEST(Ventractl, AutostartIgnoresARelativeConfigDirectory) {
  std::string home = ::testing::TempDir() + "autostart-home-" + std::to_string(getpid());
  std::filesystem::create_directories(home);
  CliRun run = shell("cd " + home + " && XDG_CONFIG_HOME=rel HOME=" + home +
                     " " VENTRACTL_PATH " autostart enable");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(home + "/.config/autostart/ventra.desktop"));
  EXPECT_FALSE(std::filesystem::exists(home + "/rel"));
  // Not a MacPro5,1 (nor its card): enabled all the same, with a word that the app stays quiet.
  std::string model;
  std::getline(std::ifstream("/sys/class/dmi/id/product_name"), model);
  if (model != "MacPro5,1") {
    EXPECT_NE(run.err.find("test fails, so at each login it will quit without a word"),
              std::string::npos)
        << run.err;
  }
  std::filesystem::remove_all(home);
}

// Under sudo -E, root with a user's HOME must not leave root-owned directories in that home.
TEST(Ventractl, AutostartRefusesToWriteIntoAnotherUsersHome) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to play sudo -E";
  std::string home = ::testing::TempDir() + "autostart-other-" + std::to_string(getpid());
  std::filesystem::create_directories(home);
  ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);  // nobody's
  CliRun run = ventractl("autostart enable", "XDG_CONFIG_HOME= HOME=" + home + " ");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("belongs to user 65534"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(home + "/.config")) << "nothing made there";
  std::filesystem::remove_all(home);
}

// The installed entry is read only where it is a regular file: a FIFO would hang the command, a
// directory or /dev/zero would make an empty entry that says nothing.
TEST(Ventractl, AutostartRefusesAnInstalledEntryThatIsNoFile) {
  namespace fs = std::filesystem;
  const fs::path data = ::testing::TempDir() + "entry-data-" + std::to_string(getpid());
  const fs::path config = ::testing::TempDir() + "entry-config-" + std::to_string(getpid());
  const fs::path planted = data / "ventra" / "ventra-autostart.desktop";
  fs::create_directories(planted.parent_path());
  const std::string run = "cd / && XDG_DATA_DIRS=" + data.string() +
                          " XDG_CONFIG_HOME=" + config.string() + " timeout 10 " VENTRACTL_PATH;
  const std::function<void()> plant[] = {
      [&] { ASSERT_EQ(::mkfifo(planted.c_str(), 0644), 0); },
      [&] { fs::create_directory(planted); },
      [&] { fs::create_symlink("/dev/zero", planted); },
  };
  for (const auto& make : plant) {
    fs::remove_all(planted);
    make();
    CliRun enable = shell(run + " autostart enable");
    EXPECT_EQ(enable.status, 1) << enable.err;
    EXPECT_NE(enable.err.find("not a regular file"), std::string::npos) << enable.err;
    EXPECT_FALSE(fs::exists(config / "autostart" / "ventra.desktop"));
  }
  fs::remove_all(data);
  fs::remove_all(config);
}

// What stands at --applesmc is named for what it is: a file, a directory without the driver's
// files, nothing at all (then the module to load).
TEST(Ventractl, TheDriverDirectoryProblemIsNamed) {
  std::string empty = ::testing::TempDir() + "no-smc-" + std::to_string(getpid());
  std::filesystem::create_directories(empty);
  // A FIFO would hang a reader; 3 GiB, sparse, would take the memory of one that reads it whole.
  const std::string fifo = empty + "/fifo", huge = empty + "/huge";
  std::filesystem::create_directories(fifo);
  std::filesystem::create_directories(huge);
  ASSERT_EQ(::mkfifo((fifo + "/key_count").c_str(), 0644), 0);
  std::ofstream(huge + "/key_count");
  std::filesystem::resize_file(huge + "/key_count", 3ull << 30);
  const std::pair<std::string, std::string> cases[] = {
      {"profiles/example.json", "is not a directory"},
      {empty, "has no key_count"},
      {empty + "/missing", "sudo modprobe applesmc"},
      {fifo, "key_count is not a regular file"},
      {huge, "key_count is larger than any driver file"}};
  for (const auto& [where, message] : cases) {
    CliRun run = ventractl("--applesmc " + where + " fans");
    EXPECT_EQ(run.status, 1) << where;
    EXPECT_NE(run.err.find(message), std::string::npos) << where << ": " << run.err;
  }
  std::filesystem::remove_all(empty);
}

// check and reset name why fan 0 reads nothing, not only "0 rpm": the driver not loaded (with
// the line that loads it), or an SMC that refuses this user.
TEST(Ventractl, CheckAndResetSayWhyFanZeroIsUnreadable) {
  const std::string missing =
      ::testing::TempDir() + "no-driver-" + std::to_string(getpid()) + "/applesmc.768";
  const std::string cause = "the applesmc driver is not loaded (" + missing +
                            " is missing): load it with 'sudo modprobe applesmc'";
  CliRun check = ventractl("--applesmc " + missing + " check --allow-cpu");
  EXPECT_TRUE(std::regex_search(check.out, std::regex("fan 0 reading +unreadable +FAILS")))
      << "not a stopped fan: " << check.out;
  EXPECT_EQ(check.out.find(cause), check.out.rfind(cause)) << "the same cause said twice";
  EXPECT_NE(check.out.find("fan 0 reading: the SMC cannot be reached: " + cause), std::string::npos)
      << check.out;
  CliRun reset = ventractl("--applesmc " + missing + " reset --force --allow-cpu");
  EXPECT_EQ(reset.status, 1);
  EXPECT_NE(reset.out.find("fan 0 could not be read: the SMC cannot be reached: " + cause),
            std::string::npos)
      << reset.out;
  std::string denied = ::testing::TempDir() + "denied-" + std::to_string(getpid()) + ".json";
  std::ofstream(denied) << R"({"notPrivileged": "all", "keys": []})";
  CliRun run = ventractl("--profile " + denied + " check --allow-cpu --json");
  auto tests = run.document()["tests"];
  EXPECT_EQ(tests[3]["found"], "unreadable");
  EXPECT_EQ(tests[3]["cause"], "the profile's SMC refuses this user (notPrivileged)");
  std::remove(denied.c_str());
}

// The scripted host's files are the host: one that cannot be written (a full TMPDIR; here a file
// size limit of 0) ends the command with the reason, not a run on a host with no model.
TEST(Ventractl, SimulateOnTheLinuxDesktopChecksEveryFileItWrites) {
  // The limit for ventractl alone: the harness keeps stderr in a file.
  CliRun run = shell("(trap '' XFSZ; ulimit -f 0; " VENTRACTL_PATH
                     " simulate scenarios/default.json --desktop linux; echo \"status $?\") "
                     "2>&1 | cat >&2");
  EXPECT_NE(run.err.find("status 1"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("cannot write the scripted host's product_name"), std::string::npos)
      << run.err;
}

// Every test is asked and judged, not only up to the first failure; the verdict is the app's,
// and the delay a login-item start would wait is read as the app reads it.
TEST(Ventractl, CheckShowsEveryTestAndTheAppsVerdict) {
  const std::string config = ::testing::TempDir() + "check-config-" + std::to_string(getpid());
  std::filesystem::create_directories(config + "/ventra");
  std::ofstream(config + "/ventra/defaults.ini") << "[Ventra]\nDelayAtLogin=-30\n";
  const std::string env = "XDG_CONFIG_HOME=" + config + " ";
  CliRun run = ventractl("--profile profiles/macpro5_1.json check --json", env);
  json doc = run.document();
  if (doc["hostModel"] == "MacPro5,1") GTEST_SKIP() << "running on the real machine";
  EXPECT_EQ(run.status, 3) << "not eligible";
  EXPECT_EQ(doc["eligible"], false);
  EXPECT_EQ(doc["failedTest"], "host model");
  ASSERT_EQ(doc["tests"].size(), 5u);
  EXPECT_EQ(doc["tests"][3]["test"], "first fan probe");
  EXPECT_EQ(doc["tests"][3]["passes"], true) << "asked although the host model failed";
  EXPECT_EQ(doc["tests"][4]["passes"], false) << "fan 0 idles at 952 rpm in this profile";
  EXPECT_EQ(doc["firstProbe"], 952);
  EXPECT_EQ(doc["loginDelaySeconds"], 30.0);
  CliRun text = ventractl("--profile profiles/macpro5_1.json check", env);
  for (const char* line :
       {"host model ", "GPU present ", "GPU identity ", "fan 0 reading ", "fan 0 speed ",
        "login delay       30 s", "not eligible: the host model test fails first"})
    EXPECT_NE(text.out.find(line), std::string::npos) << line << " in\n" << text.out;
  std::filesystem::remove_all(config);
}

// check's exit status tells a script what it found: a reset to offer (0), the right tower with a
// normal fan (4, shown as normal, not as a failure), another host (3), a fan with no reading (1).
// A profile with --gpu fake is the simulated tower, as for reset.
TEST(Ventractl, CheckTellsTheVerdictsApartAndAgreesWithResetOnTheSimulatedTower) {
  CliRun stuck = ventractl("--profile macpro5_1-stuck check --gpu fake");
  EXPECT_EQ(stuck.status, 0) << stuck.out;
  EXPECT_NE(stuck.out.find("eligible: ventra would offer"), std::string::npos) << stuck.out;
  CliRun normal = ventractl("--profile macpro5_1 check --gpu fake");
  EXPECT_EQ(normal.status, 4) << normal.out;
  EXPECT_TRUE(std::regex_search(normal.out, std::regex("fan 0 speed +952 rpm +normal ")))
      << normal.out;
  EXPECT_EQ(normal.out.find("FAILS"), std::string::npos) << normal.out;
  EXPECT_NE(normal.out.find("nothing to reset: this is the tower and card ventra acts on, and "
                            "fan 0 turns normally (952 rpm"),
            std::string::npos)
      << normal.out;
  EXPECT_EQ(ventractl("--profile macpro5_1 check --gpu fake --json").document()["verdict"],
            "fanNormal");
  CliRun reset = ventractl("--profile macpro5_1 reset --gpu fake");
  EXPECT_EQ(reset.status, 0) << "nothing to reset, on the same tower: " << reset.out;
  std::string denied = ::testing::TempDir() + "unreadable-" + std::to_string(getpid()) + ".json";
  std::ofstream(denied) << R"({"notPrivileged": "all", "keys": []})";
  CliRun unreadable = ventractl("--profile " + denied + " check --gpu fake");
  EXPECT_EQ(unreadable.status, 1) << unreadable.out;
  EXPECT_NE(unreadable.out.find("cannot tell: fan 0 gives no reading"), std::string::npos)
      << unreadable.out;
  std::remove(denied.c_str());
  CliRun host = ventractl("--profile macpro5_1 check --json");
  if (host.document()["hostModel"] != "MacPro5,1") {
    EXPECT_EQ(host.status, 3) << "this host's own model: " << host.out;
    EXPECT_EQ(host.document()["verdict"], "notThisHost");
  }
  CliRun help = ventractl("check --help");
  for (const char* status : {"0  ventra would offer", "4  nothing to reset", "3  not a host",
                             "1  the check could not tell"})
    EXPECT_NE(help.out.find(status), std::string::npos) << status << " in\n" << help.out;
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
}  // namespace
}  // namespace ventra
