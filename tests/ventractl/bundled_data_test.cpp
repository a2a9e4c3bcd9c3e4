// The bundled profiles and scenarios by bare name, and the commands that list them. The built
// binary finds the checkout's data as an installed one finds share/ventra (cli_test.cpp).
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "ventractl/cli_run.h"

namespace ventra {
namespace {
using testing::shell;
using testing::ventractl;
namespace fs = std::filesystem;

// A scratch working directory, so that a bare name cannot be a file of the source tree.
class ElsewhereTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("bundled-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  testing::CliRun run(const std::string& arguments) {
    return shell("cd " + dir_.string() + " && " VENTRACTL_PATH " " + arguments);
  }
  fs::path dir_;
};

TEST_F(ElsewhereTest, BareNamesFindTheBundledFilesAndAPathStillWins) {
  auto fans = run("--profile macpro5_1.json fans -j");
  ASSERT_EQ(fans.status, 0) << fans.err;
  EXPECT_EQ(fans.document()["fans"].size(), 6u);
  EXPECT_EQ(run("--profile macpro5_1 fans -j").out, fans.out) << "the .json may be left out";
  auto simulated = run("simulate reset.json -j");
  EXPECT_EQ(simulated.status, 0) << simulated.err;
  EXPECT_NE(simulated.out.find("\"gpuLoad\""), std::string::npos);

  std::ofstream(dir_ / "macpro5_1.json")
      << R"({"keys": [{"key": "FNum", "type": "ui8 ", "bytes": "01"},
                      {"key": "F0Ac", "type": "fpe2", "bytes": "1770"}]})";
  auto own = run("--profile macpro5_1.json fans -j");
  ASSERT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.document()["fans"].size(), 1u) << "the file in the working directory wins";
}

TEST_F(ElsewhereTest, AnUnknownNameSaysWhereItLookedAndWhatListsThem) {
  for (const auto& [line, kind] :
       {std::pair{"simulate nope", "scenario"}, std::pair{"--profile nope.json fans", "profile"}}) {
    auto failed = run(line);
    EXPECT_EQ(failed.status, 1) << line;
    EXPECT_NE(failed.err.find(std::string("no ") + kind + " \"nope"), std::string::npos)
        << failed.err;
    EXPECT_NE(failed.err.find(std::string("ventractl ") + kind + "s lists them"), std::string::npos)
        << failed.err;
  }
  EXPECT_EQ(run("--profile sub/macpro5_1.json fans").status, 1) << "a path is never looked up";
}

TEST(BundledLists, EachFileWithItsDescription) {
  auto profiles = ventractl("profiles -j");
  ASSERT_EQ(profiles.status, 0) << profiles.err;
  std::vector<std::string> names;
  const auto listed = profiles.document();
  for (const auto& row : listed["profiles"]) {
    names.push_back(row["name"]);
    EXPECT_TRUE(row["description"].is_string()) << row.dump();
    EXPECT_TRUE(fs::exists(row["path"].get<std::string>()));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"example.json", "macpro5_1-hot.json",
                                             "macpro5_1-stuck.json", "macpro5_1.json"}));
  auto scenarios = ventractl("scenarios");
  ASSERT_EQ(scenarios.status, 0) << scenarios.err;
  EXPECT_NE(scenarios.out.find("default.json "), std::string::npos);
  EXPECT_EQ(testing::linesOf(scenarios.out).size(),
            std::distance(fs::directory_iterator(VENTRA_SOURCE_DIR "/scenarios"),
                          fs::directory_iterator()) -
                1)
      << "every scenario but the README, one line each";
}

}  // namespace
}  // namespace ventra
