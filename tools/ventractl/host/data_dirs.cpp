#include "host/data_dirs.h"

#include <cstdlib>
#include <map>
#include <sstream>

#include "host/this_program.h"

namespace ventra::ctl {
namespace fs = std::filesystem;

std::vector<fs::path> dataDirectories(const fs::path& executableDirectory,
                                      const char* xdgDataDirs) {
  std::vector<fs::path> found;
  if (!executableDirectory.empty())
    found.push_back((executableDirectory / VENTRA_DATA_FROM_BINDIR).lexically_normal());
  std::istringstream dirs(xdgDataDirs && *xdgDataDirs ? xdgDataDirs
                                                      : "/usr/local/share:/usr/share");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && fs::path(dir).is_absolute()) found.push_back(fs::path(dir) / "ventra");
  if (isTheBuildFolder(executableDirectory)) found.push_back(VENTRA_SOURCE_DATA_DIR);
  return found;
}

namespace {

std::vector<fs::path> thisProcessesDataDirectories() {
  auto self = thisProgram();
  return dataDirectories(self ? self->parent_path() : fs::path(), std::getenv("XDG_DATA_DIRS"));
}

}  // namespace

std::optional<fs::path> findData(const fs::path& relative, std::string& searched) {
  std::error_code error;
  for (const fs::path& dir : thisProcessesDataDirectories()) {
    searched += (searched.empty() ? "" : ", ") + dir.string();
    if (fs::exists(dir / relative, error)) return dir / relative;
  }
  return std::nullopt;
}

std::optional<fs::path> namedData(const std::string& name, const std::string& kind,
                                  std::string& searched) {
  std::error_code error;
  fs::path given(name);
  if (name.find('/') != std::string::npos || fs::exists(fs::symlink_status(given, error)))
    return given;
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  if (auto found = findData(fs::path(kind) / name, searched)) return found;
  if (given.extension() != ".json") {
    std::string again;
    return findData(fs::path(kind) / (name + ".json"), again);
  }
  return std::nullopt;
}

std::vector<BundledFile> bundledFiles(const std::string& kind) {
  std::map<std::string, fs::path> byName;
  for (const fs::path& dir : thisProcessesDataDirectories()) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir / kind, error)) {
      const fs::path& path = entry.path();
      if (path.extension() == ".json" && entry.is_regular_file(error))
        byName.try_emplace(path.filename().string(), path);
    }
  }
  std::vector<BundledFile> files;
  for (auto& [name, path] : byName) files.push_back({name, std::move(path)});
  return files;
}

}  // namespace ventra::ctl
