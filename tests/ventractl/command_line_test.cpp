// The command line: parsing, mistakes, help, completions and the manual, all held to the
// one definition of the commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "commands/commands.h"
#include "commands/session.h"
#include "completion/completions.h"
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
    for (const auto* option : ctl::everyOption(ctl::commandDefinitions())) {
      auto taken = std::find_if(command.options.begin(), command.options.end(),
                                [&](const ctl::OptionUse& use) { return use.is(*option); });
      bool shown = run.out.find(ctl::longName(*option) + " ") != std::string::npos;
      EXPECT_EQ(shown, taken != command.options.end()) << path << " " << ctl::longName(*option);
      if (taken == command.options.end()) continue;
      EXPECT_NE(run.out.find(taken->help().substr(0, 30)), std::string::npos) << run.out;
      // --json says what this command prints, --force what it lets through.
      if (option == &ctl::option::json || option == &ctl::option::force) {
        EXPECT_NE(taken->help(), option->help) << path << " " << ctl::longName(*option);
      }
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

// What the shell offers for the words typed, by ventractl's own completion script or the one given.
std::set<std::string> offered(const std::string& shell, const std::string& typed,
                              const std::optional<std::string>& completionScript = {}) {
  std::string script =
      ::testing::TempDir() + "completion-" + std::to_string(getpid()) + "." + shell;
  std::ofstream(script) << completionScript.value_or(ventractl("completion " + shell).out);
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
      for (const auto& use : command.options) expected.insert(ctl::longName(use.option()));
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

std::string roff(const std::string& word) {
  std::string escaped;
  for (char c : word) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
  return escaped;
}

// An option's heading in the manual's OPTIONS, as the definition spells it: "-u, --unit UNIT", its
// value written as its name or as its choices ("vulkan|opencl|fake").
std::vector<std::string> manualHeadings(const ctl::OptionDefinition& option) {
  std::vector<std::string> values;
  if (!option.value.empty()) values.push_back(option.value);
  if (!option.value.empty() && option.choices.size() <= 3) {
    std::string choices;
    for (const auto& choice : option.choices) choices += (choices.empty() ? "" : "|") + choice;
    values.push_back(choices);
  }
  const std::string name = roff(ctl::longName(option));
  const bool shortToo = option.names.find(',') != std::string::npos;
  const std::string both =
      shortToo ? roff(option.names.substr(0, option.names.find(','))) + " \", \" " + name : name;
  if (values.empty()) return {std::string(shortToo ? ".BR " : ".B ") + both + "\n"};
  std::vector<std::string> headings;
  for (const auto& value : values)
    headings.push_back(shortToo ? ".BR " + both + " \" \\fI" + value + "\\fR\"\n"
                                : ".BI " + both + " \" " + value + "\"\n");
  return headings;
}

std::string manualOptionsSection() {
  std::stringstream text;
  text << std::ifstream(VENTRA_SOURCE_DIR "/packaging/ventractl.1").rdbuf();
  const std::string manual = text.str();
  auto from = manual.find(".SH OPTIONS");
  return manual.substr(from, manual.find(".SH ", from + 1) - from);
}

// The manual's list of options is the parser's: each option under the heading its definition
// spells, and no heading for an option the parser does not take.
TEST(Manual, ListsTheOptionsAsTheyAreDefined) {
  const std::string section = manualOptionsSection();
  std::set<std::string> defined = {".BR \\-h \", \" \\-\\-help\n", ".B \\-\\-version\n"};
  for (const auto* option : ctl::everyOption(ctl::commandDefinitions())) {
    auto headings = manualHeadings(*option);
    auto found = std::find_if(headings.begin(), headings.end(), [&](const std::string& heading) {
      return section.find(".TP\n" + heading) != std::string::npos;
    });
    EXPECT_TRUE(found != headings.end()) << "no " << headings.front();
    defined.insert(headings.begin(), headings.end());
  }
  for (std::size_t at = section.find(".TP\n"); at != std::string::npos;
       at = section.find(".TP\n", at + 1)) {
    auto start = at + 4;
    std::string heading = section.substr(start, section.find('\n', start) - start + 1);
    EXPECT_TRUE(defined.contains(heading)) << heading << "is no option ventractl takes";
  }
}

// The manual describes what the parser takes: every command, in roff's spelling.
TEST(Manual, DocumentsEveryCommandAndExitStatus) {
  std::stringstream text;
  text << std::ifstream(VENTRA_SOURCE_DIR "/packaging/ventractl.1").rdbuf();
  const std::string manual = text.str();
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
  for (const char* status : {".B 0\n", ".B 1\n", ".B 2\n", ".B 3\n", ".B 130\n"})
    EXPECT_NE(manual.find(status), std::string::npos) << status;
  EXPECT_NE(manual.find("now \\fB" + std::to_string(ctl::kSchemaVersion) + "\\fR"),
            std::string::npos)
      << "the schema version";
}

// An option added the way every option is: one definition, named by the command that takes it.
// The parser, the help and the three shells' completions know it with nothing else touched.
TEST(OneDefinition, AnOptionIsParsedHelpedAndCompletedFromItsDefinitionAlone) {
  std::optional<long long> widgets;
  const ctl::OptionDefinition widgetsOption{
      .names = "-w,--widgets",
      .value = "N",
      .help = "how many widgets to frob",
      .completion = ctl::Completion::choices,
      .choices = {"1", "2", "3"},
      .set = [&](ctl::Options&, const std::string& value,
                 const std::string& flag) { widgets = ctl::parseInteger(value, flag, 1, 3); },
  };
  const ctl::CommandTable table = {
      {"frob", "frob the widgets", {}, ctl::smcAnd({ctl::option::json, widgetsOption}), {}}};

  auto parsed = ctl::parseCommandLine({"--profile", "p.json", "frob", "-w", "2", "-j"}, table);
  ASSERT_NE(parsed.command, nullptr);
  EXPECT_EQ(parsed.command->name, "frob");
  EXPECT_EQ(widgets, 2);
  EXPECT_TRUE(parsed.options.json);
  EXPECT_EQ(parsed.options.profile, "p.json");
  auto refusal = [&](const std::vector<std::string>& line) -> std::string {
    try {
      ctl::parseCommandLine(line, table);
    } catch (const ctl::UsageError& error) {
      return error.what();
    }
    return "(parsed)";
  };
  EXPECT_EQ(refusal({"frob", "--widgets=4"}), "--widgets: 4 not in {1,2,3}");
  EXPECT_EQ(refusal({"frob", "--widgets="}),
            "--widgets= has an empty value: write one after '=', or leave the option out");
  EXPECT_EQ(refusal({"frob", "--widgest", "2"}),
            "unknown option --widgest; did you mean --widgets?");
  EXPECT_EQ(refusal({"--widgets", "2", "frob"}),
            "--widgets goes after the command: ventractl frob --widgets");

  const std::string help = ctl::parseCommandLine({"frob", "--help"}, table).helpText;
  EXPECT_NE(help.find("-w,--widgets N"), std::string::npos) << help;
  EXPECT_NE(help.find("how many widgets to frob"), std::string::npos) << help;

  if (haveShell("bash")) {
    const std::string bash = ctl::bashCompletion(table);
    EXPECT_EQ(offered("bash", "ventractl frob --", bash),
              (std::set<std::string>{"--help", "--profile", "--applesmc", "--json", "--widgets"}));
    EXPECT_EQ(offered("bash", "ventractl frob --widgets \"\"", bash),
              (std::set<std::string>{"1", "2", "3"}));
  }
  if (haveShell("fish")) {
    EXPECT_TRUE(
        offered("fish", "ventractl frob --", ctl::fishCompletion(table)).contains("--widgets"));
  }
  EXPECT_NE(ctl::zshCompletion(table).find(
                "'(-w --widgets)--widgets[how many widgets to frob]:N:(1 2 3)'"),
            std::string::npos);
}

}  // namespace
}  // namespace ventra
