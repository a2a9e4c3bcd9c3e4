#include "line/command_definitions.h"

#include <algorithm>

#include "line/options.h"

namespace ventra::ctl {

std::vector<std::string> spellings(const OptionDefinition& option) {
  return commaSeparated(option.names);
}

std::string longName(const OptionDefinition& option) {
  return spellings(option).back();
}

namespace {

void walk(const CommandTable& level, const std::string& prefix, const CommandVisit& visit) {
  for (const auto& command : level) {
    visit(prefix + command.name, command);
    walk(command.subcommands, prefix + command.name + " ", visit);
  }
}

}  // namespace

void eachCommand(const CommandTable& table, const CommandVisit& visit) {
  walk(table, "", visit);
}

std::vector<const OptionDefinition*> everyOption(const CommandTable& table) {
  std::vector<const OptionDefinition*> options(kSmcOptions.begin(), kSmcOptions.end());
  eachCommand(table, [&](const std::string&, const CommandDefinition& command) {
    for (const auto& use : command.options)
      if (std::find(options.begin(), options.end(), &use.option()) == options.end())
        options.push_back(&use.option());
  });
  return options;
}

}  // namespace ventra::ctl
