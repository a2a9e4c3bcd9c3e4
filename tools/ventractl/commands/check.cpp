// ventractl check: the app's eligibility check on this host, every test asked and shown, with the
// app's own verdict (its first failing test) and the login delay a login-item start would wait.
#include <algorithm>
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

std::string rpm(const std::optional<std::int64_t>& value) {
  return value ? std::to_string(*value) + " rpm" : "";
}

// What the test found, as text (empty where nothing could be found), and what it needs.
std::pair<std::string, std::string> foundAndNeeded(Test test, const app::Eligibility& e) {
  switch (test) {
    case Test::hostModel:
      return {e.hostModel.empty() ? "unreadable" : json(e.hostModel).dump(),
              json(app::kAcceptedHostModel).dump()};
    case Test::gpuPresent:
      return {std::to_string(e.gpuCount.value_or(0)) + " device(s)", "at least one"};
    case Test::gpuIdentity:
      return {e.gpuIdentity ? json(*e.gpuIdentity).dump() : "no device",
              json(app::kAcceptedGPUIdentity).dump()};
    case Test::firstProbe:
      return {rpm(e.firstProbe), "more than 0 rpm"};
    case Test::secondProbe:
      return {rpm(e.secondProbe), "more than " + std::to_string(app::kFanSpeedLimit) + " rpm"};
  }
  return {};
}

// What a start at login waits before the alert, read as the app reads it.
double loginDelaySeconds() {
  auto defaults = app::platform::desktop().standardUserDefaults();
  defaults->registerDefaults({{app::kDelayAtLogin, std::int64_t{0}}});
  return app::loginDelaySeconds(defaults->doubleForKey(app::kDelayAtLogin));
}

void printText(std::ostream& out, const app::Eligibility& e, double delay) {
  std::size_t width = 0;
  for (Test test : app::kTestsInOrder)
    width = std::max(width, foundAndNeeded(test, e).first.size());
  for (Test test : app::kTestsInOrder) {
    auto [found, needs] = foundAndNeeded(test, e);
    out << std::left << std::setw(18) << app::testName(test)
        << std::setw(static_cast<int>(width) + 2) << found << std::setw(7)
        << (app::passes(test, e) ? "ok" : "FAILS") << "needs " << needs << "\n";
  }
  out << std::left << std::setw(18) << "login delay" << delay
      << " s (DelayAtLogin), only when started at login\n";
  if (e.failed)
    out << "not eligible: the " << app::testName(*e.failed)
        << " test fails first, so ventra quits quietly\n";
  else
    out << "eligible: ventra would offer to reset the fans\n";
}

json jsonOf(const app::Eligibility& e, double delay) {
  json tests = json::array();
  for (Test test : app::kTestsInOrder) {
    auto [found, needs] = foundAndNeeded(test, e);
    tests.push_back({{"test", app::testName(test)},
                     {"passes", app::passes(test, e)},
                     {"found", found},
                     {"needs", needs}});
  }
  return {{"eligible", !e.failed},
          {"failedTest", e.failed ? json(app::testName(*e.failed)) : json(nullptr)},
          {"tests", tests},
          {"hostModel", e.hostModel.empty() ? json(nullptr) : json(e.hostModel)},
          {"gpuCount", orNull(e.gpuCount)},
          {"gpuIdentity", orNull(e.gpuIdentity)},
          {"firstProbe", orNull(e.firstProbe)},
          {"secondProbe", orNull(e.secondProbe)},
          {"loginDelaySeconds", delay}};
}

// Exits kNotEligible when a test fails, so that scripts can ask.
int runCheck(Context& context, const Arguments& args) {
  expectArguments(args, 0, "check");
  if (auto missing = hostUnavailable()) throw CommandError(*missing);
  SelectedHost host(context.options);  // the app opens and closes the SMC itself
  app::Eligibility result = app::checkEveryTest();
  const double delay = loginDelaySeconds();
  if (context.options.json)
    printJson(context, jsonOf(result, delay));
  else
    printText(context.out, result, delay);
  return result.failed ? kNotEligible : 0;
}

}  // namespace

CommandDefinition checkCommand() {
  return {
      "check",
      "the app's eligibility check on this host: every test, and the app's verdict",
      {},
      smcAnd({"json", "allowCpu", "gpu"}),
      {},
      runCheck,
      R"(print {eligible, failedTest, tests: [{test, passes, found, needs}], the values found, loginDelaySeconds})"};
}

}  // namespace ventra::ctl
