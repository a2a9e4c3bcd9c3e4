// ventractl check: the app's eligibility check on this host, every test asked and shown, with the
// app's own verdict (its first failing test), why a test found nothing where the host can tell,
// and the login delay a login-item start would wait.
#include <iomanip>
#include <ostream>

#include "app/controller.h"
#include "commands/commands.h"
#include "commands/session.h"
#include "host/host.h"
#include "line/options.h"
#include "views/eligibility_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

template <typename T>
json orNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

// What a start at login waits before the alert, read as the app reads it.
double loginDelaySeconds() {
  auto defaults = app::platform::desktop().standardUserDefaults();
  defaults->registerDefaults({{app::kDelayAtLogin, std::int64_t{0}}});
  return app::loginDelaySeconds(defaults->doubleForKey(app::kDelayAtLogin));
}

// What the check tells a script, by its exit status.
enum class Verdict { wouldOffer, fanNormal, notThisHost, fanUnreadable };

Verdict verdictOf(const app::Eligibility& e) {
  using Test = app::Eligibility::Test;
  if (!e.failed) return Verdict::wouldOffer;
  if (*e.failed == Test::firstProbe) return Verdict::fanUnreadable;
  if (*e.failed == Test::secondProbe)
    return e.secondProbeFailure ? Verdict::fanUnreadable : Verdict::fanNormal;
  return Verdict::notThisHost;
}

// Each verdict's name in --json and exit status, in the enum's order.
struct VerdictFacts {
  const char* name;
  int exitStatus;
};
constexpr VerdictFacts kVerdicts[] = {{"wouldOffer", 0},
                                      {"fanNormal", kNothingToReset},
                                      {"notThisHost", kNotEligible},
                                      {"fanUnreadable", 1}};

const VerdictFacts& factsOf(Verdict verdict) {
  return kVerdicts[static_cast<std::size_t>(verdict)];
}

void printVerdict(std::ostream& out, const app::Eligibility& e) {
  switch (verdictOf(e)) {
    case Verdict::wouldOffer:
      out << "eligible: ventra would offer to reset the fans\n";
      return;
    case Verdict::fanNormal:
      out << "nothing to reset: this is the tower and card ventra acts on, and fan 0 turns "
             "normally ("
          << e.secondProbe.value_or(0) << " rpm, " << app::kFanSpeedLimit
          << " rpm or below), so ventra quits quietly\n";
      return;
    case Verdict::fanUnreadable:
      out << "cannot tell: fan 0 gives no reading, so ventra quits quietly\n";
      return;
    case Verdict::notThisHost:
      out << "not eligible: the " << testLabel(*e.failed)
          << " test fails first, so ventra quits quietly\n";
  }
}

void printText(std::ostream& out, const app::Eligibility& e,
               const std::vector<EligibilityRow>& rows, double delay) {
  printEligibilityRows(out, rows);
  out << std::left << std::setw(18) << "login delay" << delay
      << " s (DelayAtLogin), only when started at login\n";
  printVerdict(out, e);
}

json jsonOf(const app::Eligibility& e, const std::vector<EligibilityRow>& rows, double delay) {
  return {{"eligible", !e.failed},
          {"verdict", factsOf(verdictOf(e)).name},
          {"failedTest", e.failed ? json(app::testName(*e.failed)) : json(nullptr)},
          {"tests", eligibilityJson(rows)},
          {"hostModel", e.hostModel.empty() ? json(nullptr) : json(e.hostModel)},
          {"gpuCount", orNull(e.gpuCount)},
          {"gpuIdentity", orNull(e.gpuIdentity)},
          {"firstProbe", e.firstProbeFailure ? json(nullptr) : orNull(e.firstProbe)},
          {"secondProbe", e.secondProbeFailure ? json(nullptr) : orNull(e.secondProbe)},
          {"loginDelaySeconds", delay}};
}

// The exit status tells the verdict apart (kCheckExitStatuses), so that scripts can ask.
int runCheck(Context& context, const Arguments& args) {
  expectArguments(args, 0, "check");
  if (auto missing = hostUnavailable()) throw CommandError(*missing);
  SelectedHost host(context.options);  // the app opens and closes the SMC itself
  app::Eligibility result = app::checkEveryTest();
  const auto rows = eligibilityRows(result, eligibilityCauses(context.options, result));
  const double delay = loginDelaySeconds();
  if (context.options.json)
    printJson(context, jsonOf(result, rows, delay));
  else
    printText(context.out, result, rows, delay);
  return factsOf(verdictOf(result)).exitStatus;
}

}  // namespace

CauseOf eligibilityCauses(const Options& options, const app::Eligibility& found) {
  return [&options, &found](app::Eligibility::Test test) -> std::optional<std::string> {
    using Test = app::Eligibility::Test;
    if (test == Test::gpuPresent && found.gpuCount.value_or(0) == 0) return noHostGpus(options);
    if (test == Test::firstProbe && found.firstProbeFailure)
      return whyFanZeroIsUnreadable(*found.firstProbeFailure, options);
    if (test == Test::secondProbe && found.secondProbeFailure)
      return whyFanZeroIsUnreadable(*found.secondProbeFailure, options);
    return std::nullopt;
  };
}

constexpr char kCheckExitStatuses[] = R"(Exit status:
  0  ventra would offer to reset the fans: this tower and card, fan 0 above 1000 rpm
  4  nothing to reset: this tower and card, fan 0 at 1000 rpm or below
  3  not a host ventra acts on: another model, or no RX 580 8 GB it can use
  1  the check could not tell: fan 0 gives no reading, or the SMC or GPU failed
  2  a usage error)";

CommandDefinition checkCommand() {
  return {
      "check",
      "the app's eligibility check on this host: every test, and the app's verdict",
      {},
      smcAnd(
          {{option::json,
            R"(print {eligible, verdict, failedTest, tests: [{test, passes, found, needs, cause}], the values found, loginDelaySeconds})"},
           option::allowCpu,
           option::gpu}),
      {},
      runCheck,
      kCheckExitStatuses};
}

}  // namespace ventra::ctl
