#pragma once

// One key as keys, read and write show it: key, type, size, bytes and decoded value, or why the
// key could not be read.

#include <ostream>

#include <nlohmann/json.hpp>

#include "smc/smc_access.h"

namespace ventra::ctl {

nlohmann::ordered_json describeKey(const SMCKey& key);
void printKeyRow(std::ostream& out, const nlohmann::ordered_json& row);

}  // namespace ventra::ctl
