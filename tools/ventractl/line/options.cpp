#include "line/options.h"

#include <algorithm>

namespace ventra::ctl {
namespace store {

Set words(std::vector<std::string> Options::*field) {
  return [field](Options& o, const std::string& list, const std::string& optionName) {
    auto words = commaSeparated(list);
    if (std::find(words.begin(), words.end(), "") != words.end())
      throw UsageError(optionName + " takes names separated by commas, with none of them empty");
    o.*field = std::move(words);
  };
}

void gpuStack(Options& o, const std::string& name, const std::string& optionName) {
  auto choice = parseGpuChoice(name);
  if (!choice || *choice == GpuChoice::automatic)
    throw UsageError(optionName + " " + name + " names no GPU stack: fake, vulkan or opencl");
  o.gpu = *choice;
}

void temperatureUnit(Options& o, const std::string& letterOrName, const std::string&) {
  const std::string& v = letterOrName;
  o.unit = v == "C" ? "celsius" : v == "F" ? "fahrenheit" : v == "K" ? "kelvin" : v;
}

}  // namespace store

std::vector<OptionUse> smcAnd(std::vector<OptionUse> more) {
  std::vector<OptionUse> uses;
  for (const auto* option : kSmcOptions) uses.emplace_back(*option);
  uses.insert(uses.end(), more.begin(), more.end());
  return uses;
}

}  // namespace ventra::ctl
