#pragma once

// The app's check as rows, for `check` and `reset`: each test with what it found, what it needs,
// whether it passes and, where a test found nothing, why (the host's words, given by the caller).

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/controller.h"

namespace ventra::ctl {

struct EligibilityRow {
  app::Eligibility::Test test;
  std::string found;  // empty where nothing could be found
  std::string needs;
  bool passes = false;
  // Fails only because fan 0 turns at or below the limit: the fan is normal, not at fault.
  bool normalFan = false;
  std::optional<std::string> cause;  // why it found nothing, where that is known
};

// Why a test found nothing: the GPU's absence or a fan probe's failure, in words.
using CauseOf = std::function<std::optional<std::string>(app::Eligibility::Test)>;

std::vector<EligibilityRow> eligibilityRows(const app::Eligibility& found, const CauseOf& causeOf);

// A test's name in text output: the app's, but "fan 0 reading" and "fan 0 speed" for its two
// fan probes.
const char* testLabel(app::Eligibility::Test test);

// A line a test: name, found, verdict ("ok", "FAILS", or "normal" for a fan with nothing to
// reset), needs; then each cause on a line of its own.
void printEligibilityRows(std::ostream& out, const std::vector<EligibilityRow>& rows);

// [{test, passes, found, needs, cause}]
nlohmann::ordered_json eligibilityJson(const std::vector<EligibilityRow>& rows);

// "the host model test fails (found "MacPro6,1", needs "MacPro5,1")", and its cause.
std::string failingTestText(const std::vector<EligibilityRow>& rows, app::Eligibility::Test failed);

}  // namespace ventra::ctl
