// Words the command line did not take, explained: an option that belongs to another command, a
// near miss with its suggestion, an argument too many.
#include <CLI/CLI.hpp>

#include <algorithm>

#include "line/cli.h"
#include "line/command_line.h"

namespace ventra::ctl {
namespace {

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// "; did you mean X?" for the closest candidate within a third of the word's length.
std::string suggestion(const std::string& word, const std::vector<std::string>& candidates) {
  const std::string* best = nullptr;
  std::size_t bestDistance = std::max<std::size_t>(1, word.size() / 3) + 1;
  for (const auto& candidate : candidates)
    if (std::size_t d = editDistance(word, candidate); d < bestDistance)
      best = &candidate, bestDistance = d;
  return best ? "; did you mean " + *best + "?" : "";
}

void walk(const std::vector<CommandDefinition>& level, const std::string& prefix,
          const std::function<void(const std::string&, const CommandDefinition&)>& visit) {
  for (const auto& command : level) {
    visit(prefix + command.name, command);
    walk(command.subcommands, prefix + command.name + " ", visit);
  }
}

bool takes(const CommandDefinition& command, const std::string& name) {
  return std::any_of(command.options.begin(), command.options.end(), [&](const std::string& key) {
    const auto& definition = optionDefinition(key);
    return ("," + definition.names + ",").find("," + name + ",") != std::string::npos;
  });
}

// The commands that take an option by this name.
std::vector<std::string> ownersOf(const std::string& name) {
  std::vector<std::string> owners;
  walk(commandDefinitions(), "", [&](const std::string& path, const CommandDefinition& command) {
    if (takes(command, name)) owners.push_back(path);
  });
  return owners;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

bool isOption(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && !std::isdigit(static_cast<unsigned char>(word[1]));
}

std::string unknownOption(const std::string& name, const CommandDefinition* command,
                          const std::string& path) {
  auto owners = ownersOf(name);
  if (!owners.empty()) {
    std::string of = owners.size() <= 3 ? joined(owners) : "other commands";
    return command ? path + " does not take " + name + " (an option of " + of + ")"
                   : name + " goes after the command it belongs to (" + of + ")";
  }
  std::vector<std::string> names;
  for (const auto& key : command ? command->options : kSmcOptions)
    names.push_back(longName(optionDefinition(key)));
  if (!command) names.push_back("--version");
  names.push_back("--help");
  return "unknown option " + name + suggestion(name, names);
}

std::string unknownWord(const std::string& word, const CommandDefinition* command,
                        const std::string& path) {
  const auto& level = command ? command->subcommands : commandDefinitions();
  if (command && level.empty()) return path + " does not take the argument \"" + word + "\"";
  std::vector<std::string> names;
  for (const auto& definition : level) names.push_back(definition.name);
  return "unknown " + (command ? path + " " : std::string()) + "command \"" + word + "\"" +
         suggestion(word, names);
}

// A word before the command: an option of the command that came too early, or a mistake.
std::string beforeTheCommand(const std::string& word, const CommandDefinition* command,
                             const std::string& path) {
  if (!isOption(word)) return unknownWord(word, nullptr, path);
  std::string name = word.substr(0, word.find('='));
  if (command && takes(*command, name))
    return name + " goes after the command: ventractl " + path + " " + name;
  return unknownOption(name, nullptr, path);
}

}  // namespace

void reportExtras(CLI::App& top, CLI::App* chosen, const CommandDefinition* command,
                  const std::string& path) {
  if (auto early = top.remaining(); !early.empty())
    throw UsageError(beforeTheCommand(early.front(), command, path));
  if (chosen == &top) return;
  auto extras = chosen->remaining();
  if (extras.empty()) return;
  const std::string& word = extras.front();
  if (!isOption(word)) throw UsageError(unknownWord(word, command, path));
  throw UsageError(unknownOption(word.substr(0, word.find('=')), command, path));
}

}  // namespace ventra::ctl
