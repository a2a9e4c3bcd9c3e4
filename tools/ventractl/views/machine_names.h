#pragma once

// What the MacPro5,1 calls the temperature keys the catalogue does not name, as far as the
// machine's public diagnostics tell (CPU heatsinks and diodes, drive bays, memory, PCIe slots,
// the northbridge, the power supply). Shown beside a key the catalogue calls "Unknown"; keys
// nothing public names keep that word.

#include <optional>
#include <string>

namespace ventra::ctl {

std::optional<std::string> macProSensorName(const std::string& key);

}  // namespace ventra::ctl
