#include "views/eligibility_rows.h"

#include <algorithm>
#include <iomanip>
#include <ostream>

#include "smc/utf8.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;
using Test = app::Eligibility::Test;

// A text from the host (its model, a driver's device name) in quotes, shown safely: control
// characters and bytes that are not UTF-8 escaped ("\xFF").
std::string quoted(const std::string& text) {
  return "\"" + utf8::escapeControls(text) + "\"";
}

std::string rpm(const std::optional<std::int64_t>& value,
                const std::optional<SMCAccess::SMCError>& failure) {
  if (failure) return "unreadable";
  return value ? std::to_string(*value) + " rpm" : "";
}

// What the test found, as text (empty where nothing could be found), and what it needs.
std::pair<std::string, std::string> foundAndNeeded(Test test, const app::Eligibility& e) {
  switch (test) {
    case Test::hostModel:
      return {e.hostModel.empty() ? "unreadable" : quoted(e.hostModel),
              quoted(app::kAcceptedHostModel)};
    case Test::gpuPresent:
      return {std::to_string(e.gpuCount.value_or(0)) + " device(s)", "at least one"};
    case Test::gpuIdentity:
      return {e.gpuIdentity ? quoted(*e.gpuIdentity) : "no device",
              quoted(app::kAcceptedGPUIdentity)};
    case Test::firstProbe:
      return {rpm(e.firstProbe, e.firstProbeFailure), "more than 0 rpm"};
    case Test::secondProbe:
      return {rpm(e.secondProbe, e.secondProbeFailure),
              "more than " + std::to_string(app::kFanSpeedLimit) + " rpm"};
  }
  return {};
}

}  // namespace

// The owner's words for the two fan probes; the JSON keeps the app's names.
const char* testLabel(Test test) {
  switch (test) {
    case Test::firstProbe:
      return "fan 0 reading";
    case Test::secondProbe:
      return "fan 0 speed";
    default:
      return app::testName(test);
  }
}

std::vector<EligibilityRow> eligibilityRows(const app::Eligibility& found, const CauseOf& causeOf) {
  std::vector<EligibilityRow> rows;
  for (Test test : app::kTestsInOrder) {
    auto [what, needs] = foundAndNeeded(test, found);
    const bool passes = app::passes(test, found);
    const bool normalFan = test == Test::secondProbe && !passes && !found.secondProbeFailure;
    rows.push_back({test, what, needs, passes, normalFan, passes ? std::nullopt : causeOf(test)});
  }
  return rows;
}

void printEligibilityRows(std::ostream& out, const std::vector<EligibilityRow>& rows) {
  std::size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.found.size());
  for (const auto& row : rows)
    out << std::left << std::setw(18) << testLabel(row.test)
        << std::setw(static_cast<int>(width) + 2) << row.found << std::setw(7)
        << (row.passes      ? "ok"
            : row.normalFan ? "normal"
                            : "FAILS")
        << (row.normalFan ? "a reset needs " : "needs ") << row.needs << "\n";
  // Both fan probes fail for one cause where the driver is missing: it is said once.
  std::vector<std::string> said;
  for (const auto& row : rows)
    if (row.cause && std::find(said.begin(), said.end(), *row.cause) == said.end()) {
      out << testLabel(row.test) << ": " << *row.cause << "\n";
      said.push_back(*row.cause);
    }
}

json eligibilityJson(const std::vector<EligibilityRow>& rows) {
  json tests = json::array();
  for (const auto& row : rows)
    tests.push_back({{"test", app::testName(row.test)},
                     {"passes", row.passes},
                     {"found", row.found},
                     {"needs", row.needs},
                     {"cause", row.cause ? json(*row.cause) : json(nullptr)}});
  return tests;
}

std::string failingTestText(const std::vector<EligibilityRow>& rows, Test failed) {
  auto row = std::find_if(rows.begin(), rows.end(),
                          [&](const EligibilityRow& r) { return r.test == failed; });
  const std::string found = row->found.empty()           ? "found nothing"
                            : row->found == "unreadable" ? "unreadable"
                                                         : "found " + row->found;
  std::string text = std::string("the ") + testLabel(failed) + " test fails (" + found +
                     ", needs " + row->needs + ")";
  if (row->cause) text += ": " + *row->cause;
  return text;
}

}  // namespace ventra::ctl
