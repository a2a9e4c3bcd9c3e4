// Every road from launch to quit, run through the simulator with the real controller.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/controller.h"
#include "sim/scenario.h"
#include "sim/sim_desktop.h"
#include "sim/simulated_host.h"

namespace ventra::app {
namespace {
using sim::Trace;

std::size_t countOf(const Trace& trace, const std::string& event) {
  std::size_t n = 0;
  for (const auto& e : trace.events()) n += e.event == event;
  return n;
}

const sim::TraceEvent* first(const Trace& trace, const std::string& event) {
  for (const auto& e : trace.events())
    if (e.event == event) return &e;
  return nullptr;
}

std::ptrdiff_t positionOf(const Trace& trace, const std::string& event) {
  const auto& events = trace.events();
  auto found = std::find_if(events.begin(), events.end(),
                            [&](const sim::TraceEvent& e) { return e.event == event; });
  return found == events.end() ? -1 : found - events.begin();
}

// Every notification the controller delivers, on every road, as the controller built it.
void expectTheAlertsOwnFields(const Trace& trace) {
  for (const auto& e : trace.events()) {
    if (e.event != "deliverNotification") continue;
    EXPECT_EQ(e.fields.at("informativeText"), "Ventra will try to reset the fans.");
    EXPECT_EQ(e.fields.at("otherButtonTitle"), "Reset");
    EXPECT_EQ(e.fields.at("actionButtonTitle"), "Cancel");
    EXPECT_EQ(e.fields.at("soundName"), platform::NSUserNotificationDefaultSoundName);
    EXPECT_EQ(e.fields.at("hasActionButton"), true);
    EXPECT_EQ(e.fields.at("showsButtons"), true);
  }
}

// The decisive events with their times: "deliverNotification@1 gpuLoad@10 terminate@10".
std::string road(const Trace& trace) {
  std::ostringstream out;
  out.precision(12);  // times up to 2^32 ms, to the millisecond
  for (const auto& e : trace.events())
    if (e.event == "deliverNotification" || e.event == "gpuLoad" || e.event == "terminate" ||
        e.event == "userAnswer" || e.event == "stalled")
      out << (out.tellp() > 0 ? " " : "") << e.event << "@" << e.t;
  return out.str();
}

struct Road {
  const char* scenario;
  const char* expected;
  std::function<void(const Trace&)> check = [](const Trace&) {};
};

const Road kRoads[] = {
    {"default", "deliverNotification@1 gpuLoad@10 terminate@10",
     [](const Trace& t) {
       EXPECT_EQ(first(t, "deliverNotification")->fields["title"], "High Fan Speed Detected");
       EXPECT_EQ(first(t, "removeDeliveredNotification")->t, 10.0);
       EXPECT_LT(positionOf(t, "removeDeliveredNotification"), positionOf(t, "gpuLoad"))
           << "removed before the load";
       EXPECT_EQ(first(t, "gpuLoad")->fields["n"], 16384);
       EXPECT_EQ(countOf(t, "smcOpen"), 2u);
       EXPECT_EQ(countOf(t, "smcClose"), 2u);
     }},
    {"reset", "deliverNotification@1 userAnswer@3 gpuLoad@3 terminate@3",
     [](const Trace& t) { EXPECT_EQ(countOf(t, "removeDeliveredNotification"), 0u); }},
    {"cancel", "deliverNotification@1 userAnswer@4 terminate@4"},
    {"click", "deliverNotification@1 userAnswer@2 terminate@2"},
    {"late-answer", "deliverNotification@1 gpuLoad@10 terminate@10"},
    {"forced", "deliverNotification@1 userAnswer@2 gpuLoad@2 terminate@2",
     [](const Trace& t) {
       EXPECT_EQ(first(t, "deliverNotification")->fields["title"], "Forced Mode");
       EXPECT_EQ(first(t, "deliverNotification")->fields["informativeText"],
                 "Ventra will try to reset the fans.");
       EXPECT_EQ(countOf(t, "hostModel") + countOf(t, "smcOpen"), 0u) << "no checks in forced mode";
     }},
    {"forced-no-gpu", "terminate@0"},
    {"command-shift", "terminate@1",
     [](const Trace& t) { EXPECT_EQ(countOf(t, "hostModel"), 1u); }},
    {"wrong-host", "terminate@1", [](const Trace& t) { EXPECT_EQ(countOf(t, "gpuDevices"), 0u); }},
    {"no-host-model", "terminate@1",
     [](const Trace& t) { EXPECT_EQ(countOf(t, "gpuDevices"), 0u); }},
    {"no-gpu", "terminate@1",
     [](const Trace& t) {
       EXPECT_EQ(countOf(t, "gpuDefaultDevice"), 0u) << "no identity without a device";
       EXPECT_EQ(countOf(t, "smcOpen"), 0u);
     }},
    {"wrong-gpu", "terminate@1", [](const Trace& t) { EXPECT_EQ(countOf(t, "smcOpen"), 0u); }},
    {"second-gpu", "deliverNotification@1 userAnswer@2 terminate@2"},
    {"fan-stopped", "terminate@1", [](const Trace& t) { EXPECT_EQ(countOf(t, "smcRead"), 1u); }},
    {"fan-at-limit", "terminate@1", [](const Trace& t) { EXPECT_EQ(countOf(t, "smcRead"), 2u); }},
    {"fan-above-limit", "deliverNotification@1 userAnswer@2 terminate@2"},
    {"no-smc", "terminate@1"},
    {"smc-open-refused", "terminate@1",
     [](const Trace& t) { EXPECT_EQ(first(t, "smcOpen")->fields["ok"], false); }},
    {"second-probe-open-fails", "terminate@1",
     [](const Trace& t) {
       ASSERT_EQ(countOf(t, "smcOpen"), 2u);
       EXPECT_EQ(t.events()[std::size_t(positionOf(t, "smcRead")) + 2].fields.at("ok"), false)
           << "the second open failed";
     }},
    {"smc-read-fails", "terminate@1",
     [](const Trace& t) {
       EXPECT_EQ(countOf(t, "smcRead"), 1u);
       EXPECT_EQ(countOf(t, "smcClose"), 1u) << "closed although the read failed";
     }},
    {"login-delay", "deliverNotification@31 gpuLoad@40 terminate@40",
     [](const Trace& t) { EXPECT_EQ(first(t, "doubleForKey")->t, 1.0) << "read at check time"; }},
    {"login-delay-user-launch", "deliverNotification@1 gpuLoad@10 terminate@10",
     [](const Trace& t) { EXPECT_EQ(countOf(t, "doubleForKey"), 0u); }},
    {"login-delay-nan", "deliverNotification@1 gpuLoad@10 terminate@10"},
    {"login-delay-huge",
     "deliverNotification@4294968.295 gpuLoad@4294977.295 terminate@4294977.295"},
    {"login-delay-two-hours", "deliverNotification@7201 gpuLoad@7210 terminate@7210"},
    {"login-no-delay", "deliverNotification@1 gpuLoad@10 terminate@10",
     [](const Trace& t) { EXPECT_EQ(first(t, "doubleForKey")->fields["value"], 0.0); }},
    {"leftover", "deliverNotification@1 userAnswer@2 terminate@2",
     [](const Trace& t) {
       EXPECT_LT(positionOf(t, "removeAllDeliveredNotifications"),
                 positionOf(t, "deliverNotification"));
     }},
};

class Roads : public ::testing::TestWithParam<Road> {};

TEST_P(Roads, EndInExactlyOneOutcome) {
  const Road& r = GetParam();
  auto scenario =
      sim::loadScenarioFile(std::string(VENTRA_SOURCE_DIR "/scenarios/") + r.scenario + ".json");
  sim::Simulation simulation(std::move(scenario), {});
  EXPECT_EQ(simulation.run(), 0);
  const Trace& trace = simulation.trace();
  EXPECT_EQ(road(trace), r.expected);
  EXPECT_EQ(countOf(trace, "terminate"), 1u);
  EXPECT_LE(countOf(trace, "gpuLoad"), 1u);
  EXPECT_EQ(trace.events().back().event, "terminate") << "nothing runs after the quit";
  EXPECT_EQ(countOf(trace, "registerDefaults"), 1u);
  ASSERT_EQ(countOf(trace, "removeAllDeliveredNotifications"), 1u) << "leftovers, on every road";
  EXPECT_EQ(first(trace, "removeAllDeliveredNotifications")->t, 0.0);
  expectTheAlertsOwnFields(trace);
  r.check(trace);
}

INSTANTIATE_TEST_SUITE_P(BundledScenarios, Roads, ::testing::ValuesIn(kRoads),
                         [](const auto& param) {
                           std::string name = param.param.scenario;
                           std::erase(name, '-');
                           return name;
                         });

// The leftover alert is gone for good, not only hidden behind the new one: with no answer the
// app removes only its own alert, so anything still on screen at the end was left over.
TEST(Scenario, ALeftoverAlertIsRemovedAtLaunch) {
  auto scenario = sim::loadScenarioFile(VENTRA_SOURCE_DIR "/scenarios/leftover.json");
  ASSERT_TRUE(scenario.leftoverNotification);
  scenario.answer = {};
  sim::Simulation simulation(std::move(scenario), {});
  EXPECT_EQ(simulation.run(), 0);
  EXPECT_EQ(road(simulation.trace()), "deliverNotification@1 gpuLoad@10 terminate@10");
  EXPECT_EQ(simulation.desktop().deliveredCount(), 0u);
}

// Asking every test changes nothing of the verdict: on every bundled host the first failing test
// is the one the app's own check stops at.
TEST(Scenario, EveryTestCheckedGivesTheAppsVerdict) {
  for (const auto& entry : std::filesystem::directory_iterator(VENTRA_SOURCE_DIR "/scenarios")) {
    if (entry.path().extension() != ".json") continue;
    auto verdict = [&](auto check) {
      auto scenario = sim::loadScenarioFile(entry.path());
      Trace trace;
      auto desktop = std::make_shared<sim::SimDesktop>(scenario, trace, false);
      ScopedComposition installed(sim::simulatedHost(scenario, trace, desktop));
      return check().failed;
    };
    EXPECT_EQ(verdict(checkEveryTest), verdict(checkEligibility)) << entry.path();
  }
}

// A member an object of a scenario does not have is named, wherever it stands: a typo in
// "answer" or a GPU must not leave the scenario running something else than it says.
TEST(Scenario, UnknownMembersAreErrorsThatNameThem) {
  auto base = nlohmann::json::parse(R"({"hostModel": "MacPro5,1",
    "gpus": [{"name": "AMD Radeon RX 580", "workingSetBytes": 8589934592}],
    "smc": {"keys": []}, "modifierFlags": 0, "loginItem": false, "defaults": {},
    "answer": {"action": "reset", "after": 2}, "leftoverNotification": false})");
  EXPECT_NO_THROW(sim::parseScenario(base, "s.json", "."));
  auto answer = base;
  answer["answer"]["afterr"] = 3;
  auto gpu = base;
  gpu["gpus"][0]["memory"] = 1;
  for (const auto& [scenario, member] : {std::pair{answer, "afterr"}, std::pair{gpu, "memory"}}) {
    try {
      sim::parseScenario(scenario, "s.json", ".");
      ADD_FAILURE() << member << " was accepted";
    } catch (const sim::ScenarioError& error) {
      EXPECT_NE(std::string(error.what()).find(std::string("unknown field \"") + member + "\""),
                std::string::npos)
          << error.what();
    }
  }
}

}  // namespace
}  // namespace ventra::app
