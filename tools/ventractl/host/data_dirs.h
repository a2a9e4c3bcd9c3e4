#pragma once

// Where ventractl's bundled data (profiles, scenarios) lives: beside the installed executable
// (bin/../share/ventra), then in $XDG_DATA_DIRS; the source tree only for a binary still in the
// build tree it was built in, so an installed copy never depends on the checkout.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ventra::ctl {

// The candidates in order, for an executable in `executableDirectory`.
std::vector<std::filesystem::path> dataDirectories(const std::filesystem::path& executableDirectory,
                                                   const char* xdgDataDirs);

// The first existing `relative` file among this process's data directories; `searched` lists
// where it looked.
std::optional<std::filesystem::path> findData(const std::filesystem::path& relative,
                                              std::string& searched);

}  // namespace ventra::ctl
