// The command line: parsing, mistakes, help, completions and the manual, all held to the
// one definition of the commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
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

TEST(CommandLine, EachCommandTakesItsOwnOptionsInEitherSpelling) {
  auto parsed = ctl::parseCommandLine({"temps", "-j", "--profile=p.json", "-u", "kelvin", "--all"});
  ASSERT_NE(parsed.command, nullptr);
  EXPECT_EQ(parsed.command->name, "temps");
  EXPECT_TRUE(parsed.arguments.empty());
  EXPECT_TRUE(parsed.options.json);
  EXPECT_TRUE(parsed.options.all);
  EXPECT_EQ(parsed.options.profile, "p.json");
  EXPECT_EQ(parsed.options.unit, "kelvin");
  EXPECT_EQ(ctl::parseCommandLine({"--profile", "p.json", "fans"}).options.profile, "p.json");
  EXPECT_EQ(ctl::parseCommandLine({"gpu", "load", "--size=64"}).command->name, "load");
  EXPECT_EQ(ctl::parseCommandLine({"set-fan-min", "0", "-5"}).arguments,
            (std::vector<std::string>{"0", "-5"}));
  EXPECT_EQ(ctl::parseCommandLine({}).command, nullptr);
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
                                                       {"fans", "0", "1"},
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

// "--profile= fans" must not take "fans" as the profile and run nothing; options alone run
// nothing either, and say so.
TEST(CommandLine, AnEmptyValueOrOptionsWithoutACommandAreUsageErrors) {
  EXPECT_NE(usageError({"--profile=", "fans"}).find("--profile= has an empty value"),
            std::string::npos);
  EXPECT_NE(usageError({"fans", "--unit="}).find("--unit= has an empty value"), std::string::npos);
  EXPECT_NE(usageError({"--profile", "p.json"}).find("without a command"), std::string::npos);
  EXPECT_NO_THROW(ctl::parseCommandLine({}));
  EXPECT_NO_THROW(ctl::parseCommandLine({"--version"}));
  EXPECT_EQ(ctl::parseCommandLine({"--profile=p.json", "fans"}).options.profile, "p.json");
}

TEST(CommandLine, MistakesAreExplainedWithASuggestion) {
  EXPECT_EQ(usageError({"fanz"}), "unknown command \"fanz\"; did you mean fans?");
  EXPECT_EQ(usageError({"gpu", "lod"}), "unknown gpu command \"lod\"; did you mean load?");
  EXPECT_EQ(usageError({"fans", "--jsn"}), "unknown option --jsn; did you mean --json?");
  EXPECT_EQ(usageError({"fans", "--size", "5"}),
            "fans does not take --size (an option of gpu load, gpu tune, reset)");
  EXPECT_EQ(usageError({"--json", "fans"}), "--json goes after the command: ventractl fans --json");
  EXPECT_EQ(usageError({"fans", "--frobnicate"}), "unknown option --frobnicate");
}

TEST(Ventractl, HelpForEveryCommandListsItsOwnOptionsOnly) {
  auto check = [](const std::string& path, const ctl::CommandDefinition& command) {
    CliRun run = ventractl(path + " --help");
    EXPECT_EQ(run.status, 0) << path;
    EXPECT_NE(run.out.find("Usage: ventractl " + path), std::string::npos) << run.out;
    for (const auto& option : ctl::optionDefinitions()) {
      bool takes = std::find(command.options.begin(), command.options.end(), option.key) !=
                   command.options.end();
      bool shown = run.out.find(ctl::longName(option) + " ") != std::string::npos;
      if (takes) {
        EXPECT_TRUE(shown) << path << " " << option.key;
      }
      if (!shown) continue;
      // Another option may share the long name (--force): one of the command's own must.
      EXPECT_TRUE(std::any_of(command.options.begin(), command.options.end(),
                              [&](auto& key) {
                                return ctl::longName(ctl::optionDefinition(key)) ==
                                       ctl::longName(option);
                              }))
          << path << " shows " << option.key;
    }
    // --json says what this command prints.
    bool printsJson =
        std::find(command.options.begin(), command.options.end(), "json") != command.options.end();
    if (printsJson) {
      EXPECT_FALSE(command.jsonHelp.empty()) << path;
      EXPECT_NE(run.out.find(command.jsonHelp.substr(0, 30)), std::string::npos) << run.out;
    }
  };
  for (const auto& command : ctl::commandDefinitions()) {
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
  CliRun size = ventractl("gpu load --size 0");
  EXPECT_NE(size.err.find("Try 'ventractl gpu load --help'"), std::string::npos) << size.err;
}

std::set<std::string> offered(const std::string& shell, const std::string& typed) {
  std::string script =
      ::testing::TempDir() + "completion-" + std::to_string(getpid()) + "." + shell;
  std::ofstream(script) << ventractl("completion " + shell).out;
  // The scripts ask `ventractl profiles` (and scenarios) for the bundled names: this build's.
  const std::string path = std::filesystem::path(VENTRACTL_PATH).parent_path().string();
  std::string command =
      "PATH=" + path + ":$PATH " +
      std::string(shell == "bash" ? "bash -c 'source " + script + "; COMP_WORDS=(" + typed +
                                        "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _ventractl; "
                                        "printf \"%s\\n\" \"${COMPREPLY[@]}\"'"
                                  : "fish --no-config -c 'source " + script + "; complete -C\"" +
                                        typed + "\"'");
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[4096];
  while (std::size_t got = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
  pclose(pipe);
  std::set<std::string> lines;
  for (const auto& line : linesOf(output)) {
    std::string word = line.substr(0, line.find('\t'));
    if (!word.empty()) lines.insert(word);
  }
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
    auto check = [&](const std::string& path, const ctl::CommandDefinition& command) {
      auto options = offered(shell, "ventractl " + path + " --");
      std::set<std::string> expected{"--help"};
      for (const auto& key : command.options)
        expected.insert(ctl::longName(ctl::optionDefinition(key)));
      EXPECT_EQ(options, expected) << shell << ": " << path;
    };
    for (const auto& command : ctl::commandDefinitions()) {
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
              (std::set<std::string>{"celsius", "fahrenheit", "kelvin", "C", "F", "K"}))
        << shell;
    EXPECT_TRUE(offered(shell, "ventractl f").contains("fans")) << shell;
  }
}

// A profile or a scenario is offered as a JSON file or by its bundled name, wherever it is taken.
TEST(Completion, OffersBundledProfilesAndScenariosByName) {
  for (std::string shell : {"bash", "fish"}) {
    if (!haveShell(shell)) continue;  // the test above says so
    for (const std::string typed : {"ventractl --profile mac", "ventractl check --profile mac"})
      EXPECT_TRUE(offered(shell, typed).contains("macpro5_1-stuck.json")) << shell << ": " << typed;
    EXPECT_TRUE(offered(shell, "ventractl simulate ca").contains("cancel.json")) << shell;
  }
}

// Options that share a long name with another command's option (--force): fish lists those of
// the subcommand it has seen, and the parent's are not offered after it.
TEST(Completion, FishTellsGpuFromGpuLoad) {
  if (!haveShell("fish")) GTEST_SKIP() << "no fish";
  EXPECT_EQ(offered("fish", "ventractl gpu --"),
            (std::set<std::string>{"--help", "--json", "--allow-cpu", "--gpu"}));
  EXPECT_EQ(
      offered("fish", "ventractl gpu load --"),
      (std::set<std::string>{"--help", "--json", "--allow-cpu", "--gpu", "--size", "--force"}));
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
  for (const auto& command : ctl::commandDefinitions()) {
    EXPECT_TRUE(documented(command.name)) << command.name;
    for (const auto& sub : command.subcommands)
      EXPECT_TRUE(documented(command.name + " " + sub.name)) << sub.name;
  }
  for (const auto& option : ctl::optionDefinitions())
    EXPECT_NE(manual.find(roff(ctl::longName(option))), std::string::npos) << option.key;
  for (const char* status : {".B 0\n", ".B 1\n", ".B 2\n", ".B 3\n", ".B 130\n"})
    EXPECT_NE(manual.find(status), std::string::npos) << status;
  EXPECT_NE(manual.find("now \\fB" + std::to_string(ctl::kSchemaVersion) + "\\fR"),
            std::string::npos)
      << "the schema version";
}

}  // namespace
}  // namespace ventra
