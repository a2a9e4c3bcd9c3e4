// watch: fans and temperatures sampled every --interval seconds. On a terminal the view is
// redrawn in place with a sparkline per reading; into a pipe or a file every sample is one
// timestamped record (JSON lines with --json, else comma-separated with a header line).
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>

#include "commands/commands.h"
#include "commands/session.h"
#include "line/options.h"
#include "sensors/fans.h"
#include "sensors/temperature.h"
#include "smc/smc_access.h"
#include "smc/utf8.h"
#include "views/sensor_rows.h"
#include "views/sparkline.h"
#include "views/value_format.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// The exit status of a program stopped by SIGINT, as shells report it.
constexpr int kInterrupted = 130;
constexpr std::size_t kSparklineWidth = 40;

std::atomic<bool> interrupted{false};

void sleepInterruptibly(double seconds) {
  timespec pause{static_cast<time_t>(seconds),
                 static_cast<long>((seconds - std::floor(seconds)) * 1e9)};
  while (!interrupted && nanosleep(&pause, &pause) != 0) {
  }
}

std::string utcTimestamp() {
  auto now = std::chrono::system_clock::now();
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  std::ostringstream text;
  text << std::put_time(&utc, "%FT%T") << '.' << std::setw(3) << std::setfill('0') << millis << 'Z';
  return text.str();
}

// What is polled: every fan, with its name read once, and the known sensors (with --all, the
// unknown ones the SMC lets us list too).
struct Readings {
  std::vector<json> fans;  // id and name
  std::vector<TemperatureSensor> sensors;
  std::vector<bool> known;
};

Readings readingsToWatch(const Context& context) {
  Readings readings;
  for (std::int64_t id = 0, count = SMCAccess::fanCount(); id < count; ++id)
    readings.fans.push_back({{"id", id}, {"name", fanNameOf(id)}});
  for (const auto& sensor : sortedKnownSensors()) {
    readings.sensors.push_back(sensor);
    readings.known.push_back(true);
  }
  if (!context.options.all) return readings;
  try {
    for (const auto& sensor : SMCAccess::unknownTemperatureSensors()) {
      readings.sensors.push_back(sensor);
      readings.known.push_back(false);
    }
  } catch (const SMCAccess::SMCError& error) {
    if (error.kind() != SMCAccess::SMCError::Kind::notPrivileged) throw;
    context.err << unknownSensorsNeedRoot();
  }
  return readings;
}

// One sample; samples are numbered from 1 in every output.
json sample(const Readings& readings, TemperatureUnit unit, long long number) {
  json fans = json::array(), sensors = json::array();
  for (const auto& fan : readings.fans) {
    json row = fanRow(fan["id"].get<std::int64_t>(), false);
    fans.push_back(
        {{"id", fan["id"]}, {"name", fan["name"]}, {"currentSpeed", row["currentSpeed"]}});
  }
  for (std::size_t i = 0; i < readings.sensors.size(); ++i)
    sensors.push_back(sensorRow(readings.sensors[i], unit, readings.known[i]));
  return {{"schema", kSchemaVersion},
          {"time", utcTimestamp()},
          {"sample", number},
          {"fans", fans},
          {"sensors", sensors}};
}

class View {
 public:
  virtual ~View() = default;
  virtual void show(const json& record) = 0;
  virtual void finish() {}
};

class JsonLinesView final : public View {
 public:
  explicit JsonLinesView(std::ostream& out) : out_(out) {}
  void show(const json& record) override { out_ << record.dump() << std::endl; }

 private:
  std::ostream& out_;
};

std::string cell(const json& value) {
  return value.is_null() ? "" : value.dump();
}

std::string csvField(std::string raw) {
  std::string text = utf8::escapeControls(raw);  // a label's ESC or NUL never reaches the file
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string fanLabel(const json& fan) {
  std::string name = fan["name"].is_string() ? shown(fan["name"]) : "";
  return "fan" + fan["id"].dump() + (name.empty() ? "" : " " + name);
}

class CsvView final : public View {
 public:
  CsvView(std::ostream& out, const std::string& unit) : out_(out), unit_(unitSymbol(unit)) {}
  void show(const json& record) override {
    if (!headerWritten_) writeHeader(record);
    out_ << record["time"].get<std::string>() << ',' << record["sample"];
    for (const auto& fan : record["fans"]) out_ << ',' << cell(fan["currentSpeed"]);
    for (const auto& sensor : record["sensors"]) out_ << ',' << cell(sensor["value"]);
    out_ << std::endl;
  }

 private:
  void writeHeader(const json& record) {
    out_ << "time,sample";
    for (const auto& fan : record["fans"]) out_ << ',' << csvField(fanLabel(fan) + " rpm");
    for (const auto& sensor : record["sensors"])
      out_ << ',' << csvField(sensor["key"].get<std::string>() + " " + unit_);
    out_ << "\n";
    headerWritten_ = true;
  }

  std::ostream& out_;
  std::string unit_;
  bool headerWritten_ = false;
};

// The label in a column of `width` characters: cut to one less where longer, never inside a
// character, and padded with blanks.
std::string column(const std::string& label, std::size_t width) {
  std::string out;
  std::size_t characters = 0;
  for (std::size_t at = 0; at < label.size() && characters + 1 < width; ++characters) {
    std::size_t length = 1;
    while (at + length < label.size() && (label[at + length] & 0xC0) == 0x80) ++length;
    out.append(label, at, length);
    at += length;
  }
  return out + std::string(width - characters, ' ');
}

// Redraws the whole view from the top left each sample; the terminal keeps nothing stale. Each
// reading has a sparkline of its recent samples with their low and high beside it. The view
// fits the terminal's height (`rows`; 0 where unknown) and says what it left out.
class TerminalView final : public View {
 public:
  TerminalView(std::ostream& out, const Options& options, int rows)
      : out_(out), options_(options), rows_(rows) {}
  void show(const json& record) override {
    std::ostringstream frame;
    frame << "\x1b[H\x1b[J"
          << "ventractl watch: every " << options_.interval << " s, sample "
          << record["sample"].get<long long>() << ", " << record["time"].get<std::string>()
          << " (Ctrl-C stops)\n\n";
    // Two header lines, one between fans and sensors, and the last one for the cursor.
    std::size_t room = rows_ > 4 ? static_cast<std::size_t>(rows_) - 4 : SIZE_MAX;
    std::size_t total = record["fans"].size() + record["sensors"].size(), shown = 0;
    if (total > room) --room;  // for the note of what was left out
    for (const auto& fan : record["fans"])
      if (shown++ < room)
        line(frame, fanLabel(fan), fan["currentSpeed"], " rpm", "fan" + fan["id"].dump(), false);
    frame << "\n";
    for (const auto& sensor : record["sensors"])
      if (shown++ < room)
        line(frame, ctl::shown(sensor["key"]) + " " + ctl::shown(sensor["name"]), sensor["value"],
             std::string(" ") + unitSymbol(options_.unit), sensor["key"].get<std::string>(),
             sensor["junk"].get<bool>());
    if (total > room)
      frame << (total - room) << " more readings not shown: a taller terminal shows them, -j "
            << "writes them all\n";
    out_ << frame.str() << std::flush;
  }
  void finish() override { out_ << std::endl; }

 private:
  void line(std::ostream& frame, const std::string& label, const json& value,
            const std::string& unit, const std::string& series, bool junk) {
    auto [at, added] = lines_.try_emplace(series, kSparklineWidth);
    at->second.add(value.is_null() ? std::nullopt : std::optional<double>(value.get<double>()));
    const int digits = value.is_number_float() ? 1 : 0;
    std::ostringstream reading;
    if (value.is_null())
      reading << "unreadable";
    else
      reading << std::fixed << std::setprecision(digits) << value.get<double>() << unit
              << (junk ? " (junk)" : "");
    frame << column(label, 28) << std::right << std::setw(18) << reading.str() << "  "
          << at->second.render();
    if (auto range = at->second.range())
      frame << "  " << std::fixed << std::setprecision(digits) << range->first << "–"
            << range->second;
    frame << "\n";
  }

  std::ostream& out_;
  const Options& options_;
  int rows_;
  std::map<std::string, Sparkline> lines_;
};

// The terminal's height in lines; 0 where it cannot be told.
int terminalRows() {
  winsize size{};
  return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_row : 0;
}

// -j asks for JSON lines wherever they go; a terminal otherwise gets the live view.
std::unique_ptr<View> viewFor(const Context& context) {
  if (context.options.json) return std::make_unique<JsonLinesView>(context.out);
  if (context.terminal)
    return std::make_unique<TerminalView>(context.out, context.options, terminalRows());
  return std::make_unique<CsvView>(context.out, context.options.unit);
}

int runWatch(Context& context, const Arguments& args) {
  expectArguments(args, 0, "watch [--interval SECONDS] [--count N]");
  SmcSession session(context.options);
  Readings readings = readingsToWatch(context);
  auto view = viewFor(context);
  interrupted = false;
  auto previous = std::signal(SIGINT, [](int) { interrupted = true; });
  int unwritable = 0;  // errno of the first sample that could not be written
  for (long long number = 1;
       !interrupted && (!context.options.count || number <= *context.options.count); ++number) {
    if (number > 1) sleepInterruptibly(context.options.interval);
    if (interrupted) break;
    view->show(sample(readings, unitOf(context.options.unit), number));
    // A closed pipe, a full disk, a closed descriptor: nobody reads on, so stop here.
    if (!context.out.flush()) {
      unwritable = errno;
      break;
    }
  }
  std::signal(SIGINT, previous);
  if (unwritable)
    throw CommandError(std::string("cannot write the output: ") + std::strerror(unwritable));
  view->finish();
  return interrupted ? kInterrupted : 0;
}

}  // namespace

CommandDefinition watchCommand() {
  return {
      "watch",
      "fans and temperatures, sampled every --interval seconds",
      {},
      smcAnd(
          {{option::json,
            R"(print one JSON object per sample, on a terminal too: {schema, time, sample, fans, sensors})"},
           option::unit,
           option::all,
           option::interval,
           option::count}),
      {},
      runWatch};
}

}  // namespace ventra::ctl
