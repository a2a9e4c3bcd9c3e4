#include "views/machine_names.h"

#include <map>

namespace ventra::ctl {
namespace {

// "TH1P" to "TH4P" and the like: a prefix, a digit, a suffix and the name with the number.
std::optional<std::string> numbered(const std::string& key) {
  struct Series {
    char prefix[3];
    char suffix;
    char low, high;
    const char* name;
  };
  static constexpr Series kSeries[] = {
      {"TH", 'P', '1', '4', "Drive bay "},
      {"TM", 'P', '1', '8', "Memory "},
      {"Te", 'S', '1', '5', "PCIe slot "},
      {"Tp", 'C', '0', '1', "Power supply "},
  };
  if (key.size() != 4) return std::nullopt;
  for (const auto& series : kSeries)
    if (key.compare(0, 2, series.prefix) == 0 && key[3] == series.suffix && key[2] >= series.low &&
        key[2] <= series.high)
      return series.name + std::string(1, key[2]);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> macProSensorName(const std::string& key) {
  static const std::map<std::string, std::string> kNamed = {
      {"TA0P", "Ambient"},
      {"TCAD", "CPU A diode"},
      {"TCBD", "CPU B diode"},
      {"TCAH", "CPU A heatsink"},
      {"TCBH", "CPU B heatsink"},
      {"TN0D", "Northbridge diode"},
      {"TN0H", "Northbridge heatsink"},
  };
  if (auto found = kNamed.find(key); found != kNamed.end()) return found->second;
  return numbered(key);
}

}  // namespace ventra::ctl
