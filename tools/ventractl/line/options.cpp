#include "line/options.h"

namespace ventra::ctl {
namespace store {

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
