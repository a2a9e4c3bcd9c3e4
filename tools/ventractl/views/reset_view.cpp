#include "views/reset_view.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <vector>

#include "kit/context.h"
#include "views/sparkline.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;
using reset::Phase;
using reset::Result;

constexpr double kLogEverySeconds = 10;
constexpr std::size_t kSparklineWidth = 60;

}  // namespace

std::string secondsText(double value) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(value < 10 && value != std::floor(value) ? 1 : 0) << value
       << " s";
  return text.str();
}

std::string signalName(int signal) {
  if (signal == SIGINT) return "Ctrl-C (SIGINT)";
  if (signal == SIGTERM) return "SIGTERM";
  return "signal " + std::to_string(signal);
}

namespace {

std::string rpm(const std::optional<std::int64_t>& value) {
  return value ? std::to_string(*value) + " rpm" : "unreadable";
}

std::string celsius(double value) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(value == std::floor(value) ? 0 : 1) << value << " °C";
  return text.str();
}

std::string products(std::int64_t count) {
  return std::to_string(count) + (count == 1 ? " matrix product" : " matrix products");
}

std::string loadFigures(const reset::Outcome& o) {
  return secondsText(o.loadSeconds) + " of load, " + products(o.products);
}

// The rule a fan at the limit is judged by, in words.
std::string lowInARow(const reset::ResetOptions& options) {
  return "read " + std::to_string(app::kFanSpeedLimit) + " rpm or below " +
         std::to_string(options.settledSamples) + " samples in a row";
}

std::string neverRoseLine(const reset::Outcome& o, const reset::ResetOptions& options) {
  if (o.safety)
    return "the load stopped at " + celsius(o.safety->celsius) + ", " +
           celsius(options.safetyMarginCelsius) + " below the card's limit of " +
           celsius(o.safety->criticalCelsius) + ", before fan 0 answered (" + rpm(o.lastRpm) +
           " after " + loadFigures(o) +
           "): let the card cool and check its airflow, then try again";
  return "fan 0 neither rose nor came down: " + loadFigures(o) + " left it at " + rpm(o.lastRpm) +
         " (peak " + rpm(o.peakRpm) + "; it has risen at " +
         std::to_string(*o.startRpm + options.riseRpm) + " rpm, its start plus --rise, and is " +
         "reset once it has " + lowInARow(options) +
         "): try a longer --max-load, or a smaller --rise";
}

std::string settledLine(const reset::Outcome& o, const reset::ResetOptions& options) {
  if (o.roseInASample)
    return "reset worked: fan 0 went from " + rpm(o.startRpm) + " to a peak of " + rpm(o.peakRpm) +
           " and settled at " + rpm(o.lastRpm) + ", having " + lowInARow(options) + " (" +
           loadFigures(o) + "; settled " + secondsText(o.settleSeconds) + " after the load)";
  return "reset worked: fan 0 came down from " + rpm(o.startRpm) + " to " + rpm(o.lastRpm) +
         " while the GPU worked, having " + lowInARow(options) +
         "; its spike, if any, fell between two samples (the highest read " + rpm(o.peakRpm) +
         ") (" + loadFigures(o) + ")";
}

std::string readings(const std::vector<std::int64_t>& values) {
  std::string text;
  for (auto value : values) text += (text.empty() ? "" : ", ") + std::to_string(value);
  return text + " rpm";
}

// What the run's stops (SIGSTOP, a suspended machine) took, where there were any.
std::string stoppedNote(const reset::Outcome& o) {
  if (o.stoppedSeconds <= 0) return "";
  return " (the run was stopped for " + secondsText(o.stoppedSeconds) + ", not counted)";
}

std::string outcomeWords(const reset::Outcome& o, const reset::ResetOptions& options,
                         const OutcomeWords& words) {
  switch (o.result) {
    case Result::settled:
      return settledLine(o, options);
    case Result::nothingToReset:
      return "nothing to reset: fan 0 turns at " + rpm(o.lastRpm) + ", at or below " +
             std::to_string(app::kFanSpeedLimit) + " rpm";
    case Result::notEligible:
      return "not eligible: " + words.failingTest +
             (o.refusedBy == app::Eligibility::Test::gpuPresent
                  ? ""
                  : "; --force tries the reset on this hardware anyway");
    case Result::riseOutOfReach:
      return "--rise " + std::to_string(options.riseRpm) +
             " is out of fan 0's reach: it turns at " + rpm(o.lastRpm) + " and at most at " +
             rpm(o.maxRpm) + ", so it can rise " +
             std::to_string(std::max<std::int64_t>(*o.maxRpm - *o.lastRpm, 0)) +
             " rpm at most; nothing was loaded";
    case Result::neverRose:
      return neverRoseLine(o, options);
    case Result::didNotSettle:
      return "fan 0 rose from " + rpm(o.startRpm) + " to " + rpm(o.peakRpm) + " but had not " +
             lowInARow(options) + " within " + secondsText(o.settleSeconds) +
             " (its last readings " + readings(o.lastReadings) +
             "): try a longer --settle, and watch it with 'ventractl watch'";
    case Result::fanUnreadable:
      return "fan 0 could not be read" +
             (o.endedIn == Phase::check ? std::string() : " after " + secondsText(o.seconds)) +
             ": " + words.fanCause.value_or(o.problem.value_or("?"));
    case Result::gpuFailed:
      return o.problem.value_or("the GPU failed") + " (after " + loadFigures(o) +
             "); 'ventractl gpu load' runs the GPU work alone";
    case Result::interrupted:
      return "interrupted by " + signalName(o.interruption) + " in the " + phaseName(o.endedIn) +
             " phase after " + secondsText(o.seconds) + ": fan 0 " + rpm(o.lastRpm) +
             (o.startRpm ? " (start " + rpm(o.startRpm) + ", peak " + rpm(o.peakRpm) + ")" : "") +
             ", " + products(o.products) + "; the load is stopped";
  }
  return "?";
}

}  // namespace

std::string outcomeLine(const reset::Outcome& o, const reset::ResetOptions& options,
                        const OutcomeWords& words) {
  return outcomeWords(o, options, words) + stoppedNote(o) + words.after;
}

int exitStatusOf(const reset::Outcome& outcome) {
  switch (outcome.result) {
    case Result::settled:
    case Result::nothingToReset:
      return 0;
    case Result::notEligible:
      return kNotEligible;
    case Result::riseOutOfReach:
      return kUsageError;
    case Result::interrupted:
      return 128 + outcome.interruption;
    default:
      return 1;
  }
}

namespace {

std::string sampleText(const reset::Sample& sample) {
  std::string text = "fan 0 " + rpm(sample.fanRpm);
  if (sample.reading == reset::Reading::none) text += " (no reading)";
  if (sample.reading == reset::Reading::impossible) text += " (more than it can turn: ignored)";
  if (sample.gpu) text += ", GPU " + celsius(sample.gpu->celsius);
  if (sample.gpu && sample.gpu->ignoredCriticalCelsius)
    text += " (its driver's limit of " + celsius(*sample.gpu->ignoredCriticalCelsius) +
            " is no limit: ignored)";
  return text + ", " + products(sample.products);
}

// Fan 0 over the whole run, squeezed into the sparkline's width: each mark the highest reading
// of its stretch of samples.
Sparkline wholeRun(const std::vector<std::optional<std::int64_t>>& fan) {
  const std::size_t width = std::min(kSparklineWidth, std::max<std::size_t>(fan.size(), 1));
  Sparkline line(width);
  for (std::size_t mark = 0; mark < width; ++mark) {
    std::optional<double> highest;
    for (std::size_t i = mark * fan.size() / width; i < (mark + 1) * fan.size() / width; ++i)
      if (fan[i]) highest = std::max(highest.value_or(0.0), static_cast<double>(*fan[i]));
    line.add(highest);
  }
  return line;
}

class TerminalView final : public ResetView {
 public:
  explicit TerminalView(std::ostream& out) : out_(out) {}
  void phaseStarted(Phase phase, double t) override {
    phase_ = phase;
    redraw(t);
  }
  void sampled(const reset::Sample& sample) override {
    fan_.push_back(sample.fanRpm);
    last_ = sample;
    redraw(sample.t);
  }
  void finished(const reset::Outcome&, const std::string& line) override {
    out_ << "\r\x1b[K";
    Sparkline run = wholeRun(fan_);
    if (auto range = run.range())
      out_ << "fan 0  " << run.render() << "  " << range->first << "–" << range->second << " rpm\n";
    out_ << line << "\n" << std::flush;
  }

 private:
  void redraw(double t) {
    out_ << "\r\x1b[K" << phaseName(phase_) << "  " << secondsText(t);
    if (last_) out_ << "  " << sampleText(*last_);
    if (phase_ != Phase::done) out_ << "  (Ctrl-C stops)";
    out_ << std::flush;
  }

  std::ostream& out_;
  Phase phase_ = Phase::check;
  std::optional<reset::Sample> last_;
  std::vector<std::optional<std::int64_t>> fan_;
};

// For a log: a line at each phase, and one every 10 s of the run.
class LogView final : public ResetView {
 public:
  LogView(std::ostream& out, const reset::ResetOptions& options) : out_(out), options_(options) {}
  void phaseStarted(Phase phase, double t) override {
    phase_ = phase;
    if (phase == Phase::load)
      line(t, "load: the GPU works until fan 0 rises " + std::to_string(options_.riseRpm) +
                  " rpm above its start or reads " + std::to_string(app::kFanSpeedLimit) +
                  " rpm or below " + std::to_string(options_.settledSamples) +
                  " samples in a row (at most " + secondsText(options_.maxLoadSeconds) + ")");
    if (phase == Phase::settle)
      line(t, "settle: fan 0 answered, the load is stopped; waiting for it to settle at " +
                  std::to_string(app::kFanSpeedLimit) + " rpm or below (at most " +
                  secondsText(options_.settleSeconds) + ")");
  }
  void sampled(const reset::Sample& sample) override {
    if (sample.t < nextLine_ && sample.reading == reset::Reading::counted) return;
    nextLine_ = sample.t + kLogEverySeconds;
    line(sample.t, std::string(phaseName(sample.phase)) + ": " + sampleText(sample));
  }
  void finished(const reset::Outcome& outcome, const std::string& text) override {
    line(outcome.seconds, text);
  }

 private:
  // Each line whole and at once: a log (the journal) stamps a line as it comes.
  void line(double t, const std::string& text) {
    std::ostringstream stamp;
    stamp << "[" << std::fixed << std::setprecision(1) << std::setw(6) << t << " s] ";
    out_ << stamp.str() << text << "\n" << std::flush;
  }

  std::ostream& out_;
  const reset::ResetOptions& options_;
  Phase phase_ = Phase::check;
  double nextLine_ = 0;
};

const char* readingName(reset::Reading reading) {
  switch (reading) {
    case reset::Reading::counted:
      return "counted";
    case reset::Reading::none:
      return "none";
    case reset::Reading::impossible:
      return "impossible";
    case reset::Reading::failed:
      return "failed";
  }
  return "?";
}

json temperatureJson(const std::optional<gpu::platform::DeviceTemperature>& gpu) {
  if (!gpu) return nullptr;
  return {{"celsius", gpu->celsius},
          {"criticalCelsius", gpu->criticalCelsius ? json(*gpu->criticalCelsius) : json()},
          {"ignoredCriticalCelsius",
           gpu->ignoredCriticalCelsius ? json(*gpu->ignoredCriticalCelsius) : json()}};
}

template <typename T>
json orNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

class JsonView final : public ResetView {
 public:
  explicit JsonView(std::ostream& out) : out_(out) {}
  void checked(const app::Eligibility& found) override {
    write({{"event", "check"},
           {"eligible", !found.failed},
           {"failedTest", found.failed ? json(app::testName(*found.failed)) : json(nullptr)},
           {"hostModel", found.hostModel},
           {"gpuIdentity", orNull(found.gpuIdentity)},
           {"firstProbe", found.firstProbeFailure ? json(nullptr) : orNull(found.firstProbe)},
           {"secondProbe", found.secondProbeFailure ? json(nullptr) : orNull(found.secondProbe)}});
  }
  void phaseStarted(Phase phase, double t) override {
    write({{"event", "phase"}, {"t", t}, {"phase", phaseName(phase)}});
  }
  void sampled(const reset::Sample& s) override {
    write({{"event", "sample"},
           {"t", s.t},
           {"phase", phaseName(s.phase)},
           {"fanRpm", orNull(s.fanRpm)},
           {"reading", readingName(s.reading)},
           {"gpuTemperature", temperatureJson(s.gpu)},
           {"products", s.products}});
  }
  void finished(const reset::Outcome& o, const std::string& line) override {
    json safety = nullptr;
    if (o.safety)
      safety = {{"celsius", o.safety->celsius}, {"criticalCelsius", o.safety->criticalCelsius}};
    write({{"event", "outcome"},
           {"t", o.seconds},
           {"result", resultName(o.result)},
           {"exitStatus", exitStatusOf(o)},
           {"startRpm", orNull(o.startRpm)},
           {"peakRpm", orNull(o.peakRpm)},
           {"lastRpm", orNull(o.lastRpm)},
           {"maxRpm", orNull(o.maxRpm)},
           {"roseInASample", o.roseInASample},
           {"ignoredReadings", o.ignoredReadings},
           {"stoppedSeconds", o.stoppedSeconds},
           {"loadSeconds", o.loadSeconds},
           {"settleSeconds", o.settleSeconds},
           {"products", o.products},
           {"safetyStop", safety},
           {"message", line}});
  }

 private:
  void write(json event) {
    json record{{"schema", kSchemaVersion}};
    for (auto& [name, value] : event.items()) record[name] = std::move(value);
    out_ << jsonText(record) << std::endl;
  }

  std::ostream& out_;
};

}  // namespace

const char* const kResetJsonHelp =
    R"(print one JSON object per line, each with schema and event, and t (seconds since the start) but for the check: {event: "check", eligible, failedTest, hostModel, gpuIdentity, firstProbe, secondProbe}; {event: "phase", phase: check|load|settle|done}; {event: "sample", phase, fanRpm (null: unreadable), reading: counted|none (0 rpm)|impossible (above the fan's maximum)|failed, gpuTemperature: {celsius, criticalCelsius, ignoredCriticalCelsius (a limit at or below 0 °C, no limit)} or null, products}; last {event: "outcome", result: settled|nothingToReset|notEligible|riseOutOfReach|neverRose|didNotSettle|fanUnreadable|gpuFailed|interrupted, exitStatus, startRpm, peakRpm, lastRpm (of the readings that count), maxRpm (the fan's, null: unknown), roseInASample (false: the fan came down while loaded, its spike unseen), ignoredReadings, stoppedSeconds (the run stopped, not counted), loadSeconds, settleSeconds, products, safetyStop: {celsius, criticalCelsius} or null, message})";

namespace {

// Marks the time an event takes to show.
class Showing {
 public:
  explicit Showing(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
  ~Showing() { flag_ = false; }
  Showing(const Showing&) = delete;
  Showing& operator=(const Showing&) = delete;

 private:
  std::atomic<bool>& flag_;
};

}  // namespace

void ProgressView::checked(const app::Eligibility& found) {
  std::lock_guard lock(mutex_);
  reached_.check = found;
  reached_.lastRpm = found.secondProbe;
  Showing shown(showing_);
  inner_->checked(found);
}

void ProgressView::phaseStarted(Phase phase, double t) {
  std::lock_guard lock(mutex_);
  reached_.endedIn = phase;
  Showing shown(showing_);
  inner_->phaseStarted(phase, t);
}

void ProgressView::sampled(const reset::Sample& sample) {
  std::lock_guard lock(mutex_);
  reached_.products = sample.products;
  if (sample.phase == Phase::load) loading_ = true;
  if (sample.reading == reset::Reading::counted) {
    if (!reached_.startRpm) reached_.startRpm = sample.fanRpm;
    reached_.lastRpm = sample.fanRpm;
    reached_.peakRpm = std::max(reached_.peakRpm.value_or(0), *sample.fanRpm);
  }
  Showing shown(showing_);
  inner_->sampled(sample);
}

void ProgressView::finished(const reset::Outcome& outcome, const std::string& line) {
  std::lock_guard lock(mutex_);
  Showing shown(showing_);
  inner_->finished(outcome, line);
}

reset::Outcome ProgressView::interruptedAt(double t, int signal) {
  std::lock_guard lock(mutex_);
  reset::Outcome outcome = reached_;
  outcome.result = Result::interrupted;
  outcome.interruption = signal;
  outcome.seconds = t;
  return outcome;
}

bool ProgressView::loading() {
  std::lock_guard lock(mutex_);
  return loading_;
}

std::unique_ptr<ResetView> resetViewFor(Context& context, const reset::ResetOptions& options) {
  if (context.options.json) return std::make_unique<JsonView>(context.out);
  if (context.terminal) return std::make_unique<TerminalView>(context.out);
  return std::make_unique<LogView>(context.out, options);
}

}  // namespace ventra::ctl
