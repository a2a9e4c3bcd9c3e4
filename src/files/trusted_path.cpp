#include "files/trusted_path.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace ventra::files {
namespace fs = std::filesystem;
namespace {

std::optional<std::string> problemWith(const fs::path& path, uid_t caller) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return path.string() + ": " + std::strerror(errno);
  if (status.st_uid != 0 && status.st_uid != caller)
    return path.string() + " belongs to user " + std::to_string(status.st_uid);
  const bool othersWrite = status.st_mode & (S_IWGRP | S_IWOTH);
  const bool sticky = S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX);
  if (othersWrite && !sticky) return path.string() + " may be written by others";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> whyNotTrusted(const fs::path& path, uid_t caller) {
  std::error_code error;
  const fs::path real = fs::canonical(path, error);  // the places the links lead to
  if (error) return path.string() + ": " + error.message();
  for (fs::path step = real;; step = step.parent_path()) {
    if (auto problem = problemWith(step, caller)) return problem;
    if (step == step.root_path()) return std::nullopt;
  }
}

std::optional<std::string> whyNotTrustedToWrite(const fs::path& path, uid_t caller) {
  fs::path there = path;
  std::error_code error;
  while (!fs::exists(there, error) && there.has_relative_path()) there = there.parent_path();
  return whyNotTrusted(there, caller);
}

}  // namespace ventra::files
