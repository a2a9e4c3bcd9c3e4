// The command line through CLI11, built from the one definition in command_definitions.cpp.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "line/cli.h"
#include "line/command_line.h"

namespace ventra::ctl {
namespace {

void addOption(CLI::App& app, const OptionDefinition& definition, const std::string& help) {
  if (definition.value.empty()) {
    app.add_flag(definition.names, help);
    return;
  }
  // Given twice, the later one counts: options from a file follow the unit's own.
  auto* option = app.add_option(definition.names, help)
                     ->type_name(definition.value)
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  if (!definition.choices.empty()) option->check(CLI::IsMember(definition.choices));
}

void addCommand(CLI::App& parent, const CommandDefinition& definition) {
  auto* app = parent.add_subcommand(definition.name, definition.help);
  app->allow_extras();  // reported with a suggestion, below
  for (const auto& use : definition.options) addOption(*app, use.option(), use.help());
  for (const auto& argument : definition.arguments) {
    auto* option = app->add_option(argument.name, argument.help);
    if (argument.required) option->required();
    if (argument.many) option->expected(-1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    if (!argument.choices.empty()) option->check(CLI::IsMember(argument.choices));
  }
  for (const auto& sub : definition.subcommands) addCommand(*app, sub);
  if (!definition.exitStatuses.empty()) app->footer(definition.exitStatuses);
}

// The chosen command, its definition and the words that name it ("gpu", "load").
struct Chosen {
  CLI::App* app;
  const CommandDefinition* definition;
  std::vector<std::string> path;
};

Chosen chosenCommand(CLI::App& top, const CommandTable& table) {
  Chosen chosen{&top, nullptr, {}};
  const CommandTable* level = &table;
  while (!chosen.app->get_subcommands().empty()) {
    chosen.app = chosen.app->get_subcommands().front();
    auto found = std::find_if(level->begin(), level->end(), [&](const CommandDefinition& c) {
      return c.name == chosen.app->get_name();
    });
    chosen.definition = &*found;
    chosen.path.push_back(found->name);
    level = &found->subcommands;
  }
  return chosen;
}

// The option's value as given; an empty one names nothing and is refused here.
void set(const OptionDefinition& definition, const CLI::Option& option, Options& options) {
  if (definition.value.empty()) return definition.set(options, "", longName(definition));
  const std::string value = option.as<std::string>();
  if (value.empty())
    throw UsageError(longName(definition) + " needs a " + definition.value + ", not an empty word");
  definition.set(options, value, longName(definition));
}

void applyOptions(const Chosen& chosen, Options& options) {
  for (const auto& use : chosen.definition->options) {
    const CLI::Option* option = chosen.app->get_option_no_throw(longName(use.option()));
    if (option && option->count() > 0) set(use.option(), *option, options);
  }
}

std::vector<std::string> positional(const Chosen& chosen) {
  std::vector<std::string> words;
  for (const auto& argument : chosen.definition->arguments) {
    const CLI::Option* option = chosen.app->get_option_no_throw(argument.name);
    if (option)
      for (const auto& value : option->results()) words.push_back(value);
  }
  return words;
}

// The SMC options may also come before the command, where they apply to a command that talks to
// the SMC and are a mistake with any other.
void applySmcOptions(CLI::App& top, const Chosen& chosen, Options& options) {
  for (const auto* smcOption : kSmcOptions) {
    const CLI::Option* option = top.get_option(longName(*smcOption));
    if (option->count() == 0) continue;
    const auto& takes = chosen.definition->options;
    if (std::none_of(takes.begin(), takes.end(),
                     [&](const OptionUse& use) { return use.is(*smcOption); }))
      throw UsageError(longName(*smcOption) + " picks the SMC, and " + chosen.path.front() +
                       " does not talk to it");
    set(*smcOption, *option, options);
  }
}

void listCommands(const CommandTable& level, const std::string& prefix, std::string& text) {
  for (const auto& command : level) {
    std::string name = prefix + command.name;
    for (const auto& argument : command.arguments)
      name += argument.required ? " " + argument.name : " [" + argument.name + "]";
    text += "  " + name + std::string(name.size() < 22 ? 22 - name.size() : 1, ' ') + command.help +
            "\n";
    listCommands(command.subcommands, prefix + command.name + " ", text);
  }
}

}  // namespace

std::string shortSummary(const CommandTable& table) {
  std::string text = "usage: ventractl COMMAND [OPTIONS] [ARGUMENTS]\n\n";
  listCommands(table, "", text);
  return text +
         "\nventractl COMMAND --help shows a command's options; ventractl --help shows the "
         "options\nthat may come before the command, and the exit statuses.\n";
}

std::unique_ptr<CLI::App> makeCommandLine(const CommandTable& table) {
  auto app = std::make_unique<CLI::App>(
      "ventractl: the Mac Pro's System Management Controller (fans, temperatures, keys), the GPU "
      "load and the app's checks.",
      "ventractl");
  app->allow_extras();
  for (const auto* option : kSmcOptions) addOption(*app, *option, option->help);
  static const std::string version = "the version, the commit it was built from and its backends";
  app->add_flag("--version", version);
  for (const auto& command : table) addCommand(*app, command);
  app->footer(kExitStatuses);
  return app;
}

namespace {

Invocation parseWords(const std::vector<std::string>& arguments, const CommandTable& table);

// The words before --options-from FILE, where it is given with the file it names.
std::optional<std::pair<std::vector<std::string>, std::string>> wordsBeforeAFile(
    const std::vector<std::string>& arguments) {
  constexpr std::string_view kFlag = "--options-from";
  for (auto word = arguments.begin(); word != arguments.end(); ++word) {
    if (*word == kFlag && word + 1 != arguments.end())
      return std::pair(std::vector<std::string>(arguments.begin(), word), *(word + 1));
    if (word->starts_with(std::string(kFlag) + "="))
      return std::pair(std::vector<std::string>(arguments.begin(), word),
                       word->substr(kFlag.size() + 1));
  }
  return std::nullopt;
}

}  // namespace

// A mistake among the words that came from an options file (the boot unit's) names the file:
// the words before it parse on their own.
Invocation parseCommandLine(const std::vector<std::string>& arguments, const CommandTable& table) {
  try {
    return parseWords(arguments, table);
  } catch (const UsageError& error) {
    auto before = wordsBeforeAFile(arguments);
    if (!before) throw;
    try {
      parseWords(before->first, table);
    } catch (const UsageError&) {
      throw error;
    }
    throw UsageError("in " + before->second + ": " + error.what());
  }
}

namespace {

Invocation parseWords(const std::vector<std::string>& arguments, const CommandTable& table) {
  // "--profile=" would otherwise take the next word as its value.
  for (const auto& word : arguments)
    if (word.size() > 1 && word.front() == '-' && word.back() == '=')
      throw UsageError(word + " has an empty value: write one after '=', or leave the option out");
  auto app = makeCommandLine(table);
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  Invocation invocation;
  try {
    app->parse(reversed);
  } catch (const CLI::CallForHelp&) {
    invocation.options.help = true;
    invocation.helpText = app->help();
    return invocation;
  } catch (const CLI::ParseError& error) {
    throw UsageError(error.what());
  }
  Chosen chosen = chosenCommand(*app, table);
  std::string path;
  for (const auto& word : chosen.path) path += (path.empty() ? "" : " ") + word;
  reportExtras(*app, chosen.app, {table, chosen.definition, path});
  invocation.options.version = app->get_option("--version")->count() > 0;
  if (!chosen.definition && !invocation.options.version && !arguments.empty())
    throw UsageError(
        "options without a command do nothing: ventractl COMMAND [OPTIONS] (ventractl "
        "alone lists the commands)");
  if (!chosen.definition) return invocation;
  applySmcOptions(*app, chosen, invocation.options);
  applyOptions(chosen, invocation.options);
  invocation.command = chosen.definition;
  invocation.arguments = positional(chosen);
  return invocation;
}

}  // namespace
}  // namespace ventra::ctl
