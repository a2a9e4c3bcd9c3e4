#pragma once

// JSON text from outside (profiles, scenarios) parsed with a nesting limit: the documents we
// read are a few levels deep, and one nested a hundred thousand deep would overflow the stack
// of whatever walks or copies it.

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace ventra::smc::emulator {

inline constexpr int kMaxJsonDepth = 32;

// The document, or nothing with `problem` set ("not valid JSON: ...", "nested deeper than ...").
std::optional<nlohmann::json> parseJsonText(const std::string& text, std::string& problem);

}  // namespace ventra::smc::emulator
