// ventractl sensors: everything at once, as `sensors` shows a machine: fans, known and unknown
// temperatures, the battery and the MSDI flag. A part that cannot be read is shown as such and
// the rest still is.
#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "line/options.h"
#include "sensors/fans.h"
#include "smc/smc_access.h"
#include "views/sensor_rows.h"
#include "views/value_format.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// The part's value, or {"error": why} when the SMC would not give it ("needsRoot" where only
// root may read it, as on Linux the battery and MSDI keys).
template <typename F>
json part(F&& read) {
  try {
    return read();
  } catch (const SMCAccess::SMCError& error) {
    return json{{"error", error.what()},
                {"needsRoot", error.kind() == SMCAccess::SMCError::Kind::notPrivileged}};
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

bool unreadable(const json& value) {
  return value.is_object() && value.contains("error");
}

void printPart(std::ostream& out, const char* title, const json& value) {
  out << title << ":";
  if (unreadable(value))
    out << (value["needsRoot"].get<bool>() ? " needs root"
                                           : " unreadable: " + shown(value["error"]));
  out << "\n";
}

void printOverview(std::ostream& out, const json& view, const std::string& unit) {
  printPart(out, "Fans", view["fans"]);
  if (view["fans"].is_array())
    for (const auto& row : view["fans"]) printFan(out, row);
  printPart(out, "Temperatures", view["temperatures"]);
  if (view["temperatures"].is_array())
    for (const auto& row : view["temperatures"]) printSensor(out, row, unit);
  // A desktop Mac has no battery: one word for it rather than a table of noes.
  if (!unreadable(view["battery"]) && view["battery"]["batteryCount"] == 0) {
    out << "Battery: none\n";
  } else {
    printPart(out, "Battery", view["battery"]);
    if (!unreadable(view["battery"])) printBattery(out, view["battery"], "  ");
  }
  if (unreadable(view["msdi"]))
    printPart(out, "MSDI (a disc in the optical drive)", view["msdi"]);
  else
    out << "MSDI (a disc in the optical drive): " << (view["msdi"].get<bool>() ? "yes" : "no")
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
      "everything at once: fans, temperatures, battery, and MSDI (a disc in the optical drive)",
      {},
      smcAnd(
          {{option::json,
            R"(print {fans, unit, temperatures, battery, msdi, complete}, a part that cannot be read as {"error"})"},
           option::unit}),
      {},
      runSensors};
}

}  // namespace ventra::ctl
