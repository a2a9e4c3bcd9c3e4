#include <iomanip>
#include <ostream>

#include "app/controller.h"
#include "commands/commands.h"
#include "commands/context.h"
#include "host/host.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;
using Test = app::Eligibility::Test;

template <typename T>
json orNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

struct Row {
  Test test;
  std::string found;  // empty: not reached
  std::string needs;
};

std::vector<Row> rowsOf(const app::Eligibility& e) {
  auto rpm = [](const std::optional<std::int64_t>& v) {
    return v ? std::to_string(*v) + " rpm" : "";
  };
  return {
      {Test::hostModel, e.hostModel.empty() ? "unreadable" : json(e.hostModel).dump(),
       json(app::kAcceptedHostModel).dump()},
      {Test::gpuPresent, e.gpuCount ? std::to_string(*e.gpuCount) + " device(s)" : "",
       "at least one"},
      {Test::gpuIdentity, e.gpuIdentity ? json(*e.gpuIdentity).dump() : "",
       json(app::kAcceptedGPUIdentity).dump()},
      {Test::firstProbe, rpm(e.firstProbe), "more than 0 rpm"},
      {Test::secondProbe, rpm(e.secondProbe),
       "more than " + std::to_string(app::kFanSpeedLimit) + " rpm"},
  };
}

void printText(std::ostream& out, const app::Eligibility& e) {
  for (const Row& row : rowsOf(e)) {
    const char* verdict = row.found.empty() ? "not reached" : e.failed == row.test ? "FAILS" : "ok";
    out << std::left << std::setw(18) << app::testName(row.test) << std::setw(28)
        << (row.found.empty() ? "-" : row.found) << std::setw(12) << verdict << "needs "
        << row.needs << "\n";
  }
  if (e.failed)
    out << "not eligible: the " << app::testName(*e.failed)
        << " test fails, so ventra quits quietly\n";
  else
    out << "eligible: ventra would offer to reset the fans\n";
}

// The app's own check on this host, test by test: why ventra did or did not speak up. Exits
// kNotEligible when a test fails, so that scripts can ask.
int runCheck(Context& context, const Arguments& args) {
  expectArguments(args, 0, "check");
  if (auto missing = hostUnavailable()) throw CommandError(*missing);
  SelectedHost host(context.options);  // the app opens and closes the SMC itself
  app::Eligibility result = app::checkEligibility();
  const int status = result.failed ? kNotEligible : 0;
  if (!context.options.json) {
    printText(context.out, result);
    return status;
  }
  printJson(context,
            {{"eligible", !result.failed},
             {"failedTest", result.failed ? json(app::testName(*result.failed)) : json(nullptr)},
             {"hostModel", result.hostModel.empty() ? json(nullptr) : json(result.hostModel)},
             {"gpuCount", orNull(result.gpuCount)},
             {"gpuIdentity", orNull(result.gpuIdentity)},
             {"firstProbe", orNull(result.firstProbe)},
             {"secondProbe", orNull(result.secondProbe)}});
  return status;
}

}  // namespace

CommandDefinition checkCommand() {
  return {"check", "the app's eligibility check on this host, test by test",
          {},      smcAnd({"json", "allowCpu", "gpu"}),
          {},      runCheck};
}

}  // namespace ventra::ctl
