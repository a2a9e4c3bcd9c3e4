#include "files/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace ventra::files {
namespace {

bool writeAll(int fd, const std::string& text) {
  for (std::size_t written = 0; written < text.size();) {
    ssize_t put = ::write(fd, text.data() + written, text.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    written += static_cast<std::size_t>(put);
  }
  return true;
}

std::string failed(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// A stream to write into: opened as it is, never created, never truncated, never replaced.
std::optional<std::string> writeThrough(const std::string& name, const std::string& text) {
  int fd = ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return failed("cannot open " + name, errno);
  const bool written = writeAll(fd, text);
  const int error = errno;
  ::close(fd);
  if (!written) return failed("cannot write " + name, error);
  return std::nullopt;
}

mode_t usualMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The new file's owner and mode: the old file's, or the usual ones for a new file.
std::optional<std::string> takeOver(int fd, const std::string& name, const struct stat* old) {
  if (old && ::fchown(fd, old->st_uid, old->st_gid) != 0)
    return "cannot keep the owner of " + name + " (user " + std::to_string(old->st_uid) +
           "): " + std::strerror(errno) + "; write it elsewhere, or as that user";
  if (::fchmod(fd, old ? old->st_mode & 07777 : usualMode()) != 0)
    return failed("cannot set the mode of " + name, errno);
  return std::nullopt;
}

std::optional<std::string> replaceRegular(const std::filesystem::path& path,
                                          const std::string& text, const struct stat* old) {
  const std::string name = path.string();
  std::string temporary = (path.parent_path() / ("." + path.filename().string())).string();
  temporary += ".XXXXXX";
  std::vector<char> made(temporary.begin(), temporary.end());
  made.push_back('\0');
  int fd = ::mkostemp(made.data(), O_CLOEXEC);
  if (fd < 0) return failed("cannot write beside " + name, errno);
  auto problem = takeOver(fd, name, old);
  if (!problem && !(writeAll(fd, text) && ::fsync(fd) == 0))
    problem = failed("cannot write " + name, errno ? errno : EIO);
  ::close(fd);
  if (!problem && ::rename(made.data(), name.c_str()) != 0)
    problem = failed("cannot replace " + name, errno);
  if (problem) ::unlink(made.data());
  if (problem && old) *problem += " (the file there is unchanged)";
  return problem;
}

}  // namespace

std::optional<std::string> writeOutputFile(const std::filesystem::path& path,
                                           const std::string& text) {
  const std::string name = path.string();
  struct stat target {};
  const bool exists = ::stat(name.c_str(), &target) == 0;  // through any link
  if (!exists && errno != ENOENT) return failed("cannot write " + name, errno);
  if (exists && S_ISDIR(target.st_mode)) return name + " is a directory";
  if (exists && !S_ISREG(target.st_mode)) return writeThrough(name, text);
  struct stat itself {};
  if (::lstat(name.c_str(), &itself) == 0 && S_ISLNK(itself.st_mode))
    return name + " is a symbolic link: name the file itself, which is replaced whole";
  const auto directory = path.has_parent_path() ? path.parent_path() : ".";
  struct stat parent {};
  if (::stat(directory.c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode))
    return "no directory " + directory.string() + " for " + name + " (none is made)";
  return replaceRegular(path.has_parent_path() ? path : "./" / path, text,
                        exists ? &target : nullptr);
}

}  // namespace ventra::files
