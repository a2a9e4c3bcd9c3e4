#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "smc/data_types.h"

namespace ventra::ctl {

// A key's value bytes decoded by its reported type: numbers for the fixed-point and integer
// types, a boolean for "flag", the fan name for "{fds"; null where the type is not known or the
// size does not fit it (the hex is always shown beside it).
nlohmann::ordered_json decodeValue(const DataType& info, const SMCDataBytes& bytes);

// The decoded value as a short text for tables ("1000", "45.5", "true", "\"PCI\"", "-").
std::string valueText(const nlohmann::ordered_json& value);

// A text from the SMC or a profile (a key, a type, a fan's name) as text output shows it: its
// control characters escaped ("\x1B"), as error messages show them.
std::string shown(const nlohmann::ordered_json& text);

// "8.0 GiB", "512 MiB": a device's memory as its owner reads it.
std::string memoryText(std::uint64_t bytes);

std::string hexOf(const SMCDataBytes& bytes, std::uint32_t size);

}  // namespace ventra::ctl
