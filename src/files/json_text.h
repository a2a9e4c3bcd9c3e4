#pragma once

// JSON text from outside (profiles, scenarios) parsed with a nesting limit: the documents we
// read are a few levels deep, and one nested a hundred thousand deep would overflow the stack
// of whatever walks or copies it.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace ventra::files {

inline constexpr int kMaxJsonDepth = 32;
// Profiles and scenarios are a few kilobytes; one this large is a mistake, not a machine.
inline constexpr std::size_t kMaxJsonFileBytes = 16u << 20;

// The document, or nothing with `problem` set ("not valid JSON: ...", "nested deeper than ...",
// "member ... appears twice in one object").
std::optional<nlohmann::json> parseJsonText(const std::string& text, std::string& problem);

// A regular file's text, at most kMaxJsonFileBytes; nothing with `problem` set for a directory,
// a FIFO or device (never waited on), a larger file or a read that fails.
std::optional<std::string> readJsonFile(const std::filesystem::path& path, std::string& problem);

}  // namespace ventra::files
