#include "sim/scenario.h"

#include "files/json_text.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace ventra::sim {
namespace {
using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& problem) {
  throw ScenarioError(where + ": " + problem);
}

const json& field(const json& object, const char* name, const std::string& where) {
  if (!object.contains(name)) fail(where, std::string("missing \"") + name + "\"");
  return object.at(name);
}

// A member this object does not have is a mistake (a typo, a field of another object), not
// something to pass over.
void rejectUnknownMembers(const json& object, const std::set<std::string>& known,
                          const std::string& where) {
  for (const auto& [name, _] : object.items())
    if (!known.contains(name)) fail(where, "unknown field \"" + name + "\"");
}

bool boolField(const json& object, const char* name, const std::string& where) {
  const json& value = field(object, name, where);
  if (!value.is_boolean()) fail(where, std::string("\"") + name + "\" must be true or false");
  return value.get<bool>();
}

std::vector<gpu::fake::DeviceDescription> gpusField(const json& document,
                                                    const std::string& where) {
  const json& list = field(document, "gpus", where);
  if (!list.is_array()) fail(where, "\"gpus\" must be a list");
  std::vector<gpu::fake::DeviceDescription> gpus;
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string at = where + ": gpus[" + std::to_string(i) + "]";
    const json& entry = list[i];
    if (!entry.is_object() || !entry.contains("name") || !entry["name"].is_string())
      fail(at, "each GPU needs a \"name\" text");
    rejectUnknownMembers(entry, {"name", "workingSetBytes"}, at);
    const json& bytes = field(entry, "workingSetBytes", at);
    if (!bytes.is_number_unsigned() &&
        !(bytes.is_number_integer() && bytes.get<std::int64_t>() >= 0))
      fail(at, "\"workingSetBytes\" must be a whole number from 0 to 2^64 - 1");
    gpus.push_back({entry["name"].get<std::string>(), bytes.get<std::uint64_t>()});
  }
  return gpus;
}

smc::emulator::Profile smcField(const json& document, const std::string& where,
                                const std::filesystem::path& base) {
  const json& smc = field(document, "smc", where);
  if (smc.is_object() && smc.size() == 1 && smc.contains("profile")) {
    if (!smc["profile"].is_string()) fail(where, "\"smc\": \"profile\" must be a path");
    return smc::emulator::loadProfileFile(base / smc["profile"].get<std::string>());
  }
  return smc::emulator::parseProfile(smc, where + ": smc");
}

// JSON has no NaN or infinity; scenarios spell them as texts to test what a stored junk value does.
app::platform::DefaultValue defaultValue(const json& value, const std::string& where) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
  if (value.is_number()) return value.get<double>();
  static const std::map<std::string, double> special{
      {"NaN", std::numeric_limits<double>::quiet_NaN()},
      {"Infinity", std::numeric_limits<double>::infinity()},
      {"-Infinity", -std::numeric_limits<double>::infinity()}};
  if (value.is_string() && special.contains(value.get<std::string>()))
    return special.at(value.get<std::string>());
  fail(where, "a default must be a number, \"NaN\", \"Infinity\" or \"-Infinity\"");
}

Answer answerField(const json& document, const std::string& where) {
  const json& answer = field(document, "answer", where);
  static const std::map<std::string, Answer::Action> actions{{"reset", Answer::Action::reset},
                                                             {"cancel", Answer::Action::cancel},
                                                             {"click", Answer::Action::click},
                                                             {"none", Answer::Action::none}};
  std::string at = where + ": answer";
  if (!answer.is_object()) fail(at, "must be an object");
  rejectUnknownMembers(answer, {"action", "after"}, at);
  const json& action = field(answer, "action", at);
  if (!action.is_string() || !actions.contains(action.get<std::string>()))
    fail(at, "\"action\" must be \"reset\", \"cancel\", \"click\" or \"none\"");
  Answer result{actions.at(action.get<std::string>()), 0.0};
  if (answer.contains("after")) {
    const json& after = answer["after"];
    if (!after.is_number() || !std::isfinite(after.get<double>()) || after.get<double>() < 0)
      fail(at, "\"after\" must be a number of seconds, 0 or more");
    result.after = after.get<double>();
  } else if (result.action != Answer::Action::none) {
    fail(at, "missing \"after\"");
  }
  return result;
}

void rejectUnknownFields(const json& document, const std::string& where) {
  rejectUnknownMembers(document,
                       {"description", "hostModel", "gpus", "smc", "modifierFlags", "loginItem",
                        "defaults", "answer", "leftoverNotification"},
                       where);
}

}  // namespace

Scenario parseScenario(const json& document, const std::string& source,
                       const std::filesystem::path& base) {
  if (!document.is_object()) fail(source, "a scenario must be a JSON object");
  rejectUnknownFields(document, source);
  Scenario scenario;
  if (document.contains("description") && document["description"].is_string())
    scenario.description = document["description"].get<std::string>();
  const json& model = field(document, "hostModel", source);
  if (!model.is_null() && !model.is_string()) fail(source, "\"hostModel\" must be a text or null");
  if (model.is_string()) scenario.hostModel = model.get<std::string>();
  scenario.gpus = gpusField(document, source);
  scenario.smc = smcField(document, source, base);
  const json& flags = field(document, "modifierFlags", source);
  if (!flags.is_number_unsigned() && !(flags.is_number_integer() && flags.get<std::int64_t>() >= 0))
    fail(source, "\"modifierFlags\" must be a whole number, 0 or more");
  scenario.modifierFlags = flags.get<std::uint64_t>();
  scenario.loginItem = boolField(document, "loginItem", source);
  const json& defaults = field(document, "defaults", source);
  if (!defaults.is_object()) fail(source, "\"defaults\" must be an object");
  for (const auto& [key, value] : defaults.items())
    scenario.defaults[key] = defaultValue(value, source + ": defaults." + key);
  scenario.answer = answerField(document, source);
  scenario.leftoverNotification = boolField(document, "leftoverNotification", source);
  return scenario;
}

Scenario loadScenarioFile(const std::filesystem::path& path) {
  std::string problem;
  auto text = files::readJsonFile(path, problem);
  if (!text) fail(path.string(), problem);
  auto document = files::parseJsonText(*text, problem);
  if (!document) fail(path.string(), problem);
  return parseScenario(*document, path.string(), path.parent_path());
}

const char* actionName(Answer::Action action) {
  switch (action) {
    case Answer::Action::reset:
      return "reset";
    case Answer::Action::cancel:
      return "cancel";
    case Answer::Action::click:
      return "click";
    case Answer::Action::none:
      return "none";
  }
  return "none";
}

}  // namespace ventra::sim
