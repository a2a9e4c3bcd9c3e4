#include "line/command_definitions.h"

#include <algorithm>

#include "line/options.h"

namespace ventra::ctl {

std::string longName(const OptionDefinition& option) {
  auto at = option.names.rfind(',');
  return at == std::string::npos ? option.names : option.names.substr(at + 1);
}

namespace {

void addOptionsOf(const CommandTable& level, std::vector<const OptionDefinition*>& options) {
  for (const auto& command : level) {
    for (const auto& use : command.options)
      if (std::find(options.begin(), options.end(), &use.option()) == options.end())
        options.push_back(&use.option());
    addOptionsOf(command.subcommands, options);
  }
}

}  // namespace

std::vector<const OptionDefinition*> everyOption(const CommandTable& table) {
  std::vector<const OptionDefinition*> options(kSmcOptions.begin(), kSmcOptions.end());
  addOptionsOf(table, options);
  return options;
}

}  // namespace ventra::ctl
