#include "host/this_program.h"

namespace ventra::ctl {
namespace fs = std::filesystem;

std::optional<fs::path> thisProgram() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  return self;
}

bool isTheBuildFolder(const fs::path& directory) {
  std::error_code error;
  return !directory.empty() && fs::equivalent(directory, VENTRA_BUILD_TOOL_DIR, error);
}

}  // namespace ventra::ctl
