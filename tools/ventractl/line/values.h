#pragma once

// What an option's value must be, and the error a line that cannot be run as written raises.

#include <stdexcept>
#include <string>
#include <vector>

namespace ventra::ctl {

// A command line that cannot be run as written; reported with the usage hint, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whole-text decimal parse; `what` names the argument in the error.
long long parseInteger(const std::string& text, const std::string& what, long long low,
                       long long high);
double parseSeconds(const std::string& text, const std::string& what);
// The words between commas, empty ones kept: "a,,b" gives "a", "", "b".
std::vector<std::string> commaSeparated(const std::string& text);

}  // namespace ventra::ctl
