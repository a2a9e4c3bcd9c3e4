#include "host/data_dirs.h"

#include <cstdlib>
#include <sstream>

namespace ventra::ctl {
namespace fs = std::filesystem;

std::vector<fs::path> dataDirectories(const fs::path& executableDirectory,
                                      const char* xdgDataDirs) {
  std::vector<fs::path> found;
  if (!executableDirectory.empty()) found.push_back(executableDirectory / VENTRA_DATA_FROM_BINDIR);
  std::istringstream dirs(xdgDataDirs && *xdgDataDirs ? xdgDataDirs
                                                      : "/usr/local/share:/usr/share");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && fs::path(dir).is_absolute()) found.push_back(fs::path(dir) / "ventra");
  std::error_code error;
  if (!executableDirectory.empty() &&
      fs::equivalent(executableDirectory, VENTRA_BUILD_TOOL_DIR, error))
    found.push_back(VENTRA_SOURCE_DATA_DIR);
  return found;
}

std::optional<fs::path> findData(const fs::path& relative, std::string& searched) {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  for (const fs::path& dir :
       dataDirectories(error ? fs::path() : self.parent_path(), std::getenv("XDG_DATA_DIRS"))) {
    searched += (searched.empty() ? "" : ", ") + dir.string();
    if (fs::exists(dir / relative, error)) return dir / relative;
  }
  return std::nullopt;
}

}  // namespace ventra::ctl
