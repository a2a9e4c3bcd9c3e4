// ventractl sensors: everything at once, as `sensors` shows a machine: fans, known and unknown
// temperatures, the battery and the MSDI flag. A part that cannot be read is shown as such and
// the rest still is.
#include <ostream>

#include "commands/commands.h"
#include "commands/context.h"
#include "sensors/fans.h"
#include "smc/smc_access.h"
#include "views/sensor_rows.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// The part's value, or {"error": why} when the SMC would not give it.
template <typename F>
json part(F&& read) {
  try {
    return read();
  } catch (const SMCAccess::SMCError& error) {
    return json{{"error", error.what()}};
  }
}

json overview(const Options& options, bool& complete) {
  Options all = options;
  all.all = true;
  return {{"fans", part([] {
             json rows = json::array();
             for (std::int64_t id = 0, count = SMCAccess::fanCount(); id < count; ++id)
               rows.push_back(fanRow(id, true));
             return rows;
           })},
          {"unit", options.unit},
          {"temperatures", part([&] { return temperatureRows(all, complete); })},
          {"battery", part([] { return batteryRow(SMCAccess::readBatteryInfo()); })},
          {"msdi", part([] { return json(SMCAccess::readMSDIFlag()); })}};
}

void printPart(std::ostream& out, const char* title, const json& value) {
  out << title << ":";
  if (value.is_object() && value.contains("error"))
    out << " unreadable: " << value["error"].get<std::string>();
  out << "\n";
}

void printOverview(std::ostream& out, const json& view, const std::string& unit) {
  printPart(out, "Fans", view["fans"]);
  if (view["fans"].is_array())
    for (const auto& row : view["fans"]) printFan(out, row);
  printPart(out, "Temperatures", view["temperatures"]);
  if (view["temperatures"].is_array())
    for (const auto& row : view["temperatures"]) printSensor(out, row, unit);
  printPart(out, "Battery", view["battery"]);
  if (!view["battery"].contains("error")) printBattery(out, view["battery"], "  ");
  out << "MSDI: "
      << (view["msdi"].is_boolean() ? view["msdi"].dump()
                                    : "unreadable: " + view["msdi"]["error"].get<std::string>())
      << "\n";
}

int runSensors(Context& context, const Arguments& args) {
  expectArguments(args, 0, "sensors [--unit U]");
  SmcSession session(context.options);
  bool complete = true;
  json view = overview(context.options, complete);
  if (!complete) context.err << unknownSensorsNeedRoot();
  if (context.options.json) {
    view["complete"] = complete;
    printJson(context, view);
    return 0;
  }
  printOverview(context.out, view, context.options.unit);
  return 0;
}

}  // namespace

CommandDefinition sensorsCommand() {
  return {
      "sensors",
      "everything at once: fans, temperatures, battery, MSDI",
      {},
      smcAnd({"json", "unit"}),
      {},
      runSensors,
      R"(print {fans, unit, temperatures, battery, msdi, complete}, a part that cannot be read as {"error"})"};
}

}  // namespace ventra::ctl
