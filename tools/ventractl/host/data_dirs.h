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

// A data file the user names, such as `--profile macpro5_1.json` or `simulate reset`: the path as
// given wins where something is there or the name holds a '/'; else `kind/NAME` (or
// `kind/NAME.json`) among the data directories. Nothing when neither is found, with `searched`.
std::optional<std::filesystem::path> namedData(const std::string& name, const std::string& kind,
                                               std::string& searched);

struct BundledFile {
  std::string name;  // "macpro5_1.json"
  std::filesystem::path path;
};

// Every `kind/*.json` among the data directories, by name; where two directories hold the same
// name, the one found first (the one a bare name picks).
std::vector<BundledFile> bundledFiles(const std::string& kind);

}  // namespace ventra::ctl
