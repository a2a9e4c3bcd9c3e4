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

bool takes(const CommandDefinition& command, const std::string& name) {
  return std::any_of(command.options.begin(), command.options.end(), [&](const OptionUse& use) {
    const auto all = spellings(use.option());
    return std::find(all.begin(), all.end(), name) != all.end();
  });
}

// The commands that take an option by this name.
std::vector<std::string> ownersOf(const std::string& name, const CommandTable& table) {
  std::vector<std::string> owners;
  eachCommand(table, [&](const std::string& path, const CommandDefinition& command) {
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

std::string unknownOption(const std::string& name, const Named& named) {
  auto owners = ownersOf(name, named.table);
  if (!owners.empty()) {
    std::string of = owners.size() <= 3 ? joined(owners) : "other commands";
    return named.command ? named.path + " does not take " + name + " (an option of " + of + ")"
                         : name + " goes after the command it belongs to (" + of + ")";
  }
  std::vector<std::string> names;
  if (named.command) {
    for (const auto& use : named.command->options) names.push_back(longName(use.option()));
  } else {
    for (const auto* option : kSmcOptions) names.push_back(longName(*option));
    names.push_back("--version");
  }
  names.push_back("--help");
  return "unknown option " + name + suggestion(name, names);
}

std::string unknownWord(const std::string& word, const Named& named) {
  const auto& level = named.command ? named.command->subcommands : named.table;
  if (named.command && level.empty())
    return named.path + " does not take the argument \"" + word + "\"";
  std::vector<std::string> names;
  for (const auto& definition : level) names.push_back(definition.name);
  return "unknown " + (named.command ? named.path + " " : std::string()) + "command \"" + word +
         "\"" + suggestion(word, names);
}

// A word before the command: an option of the command that came too early, or a mistake.
std::string beforeTheCommand(const std::string& word, const Named& named) {
  const Named bare{named.table, nullptr, named.path};
  if (!isOption(word)) return unknownWord(word, bare);
  std::string name = word.substr(0, word.find('='));
  if (named.command && takes(*named.command, name))
    return name + " goes after the command: ventractl " + named.path + " " + name;
  return unknownOption(name, bare);
}

}  // namespace

void reportExtras(CLI::App& top, CLI::App* chosen, const Named& named) {
  if (auto early = top.remaining(); !early.empty())
    throw UsageError(beforeTheCommand(early.front(), named));
  if (chosen == &top) return;
  auto extras = chosen->remaining();
  if (extras.empty()) return;
  const std::string& word = extras.front();
  if (!isOption(word)) throw UsageError(unknownWord(word, named));
  throw UsageError(unknownOption(word.substr(0, word.find('=')), named));
}

}  // namespace ventra::ctl
