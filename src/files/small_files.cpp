#include "files/small_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ventra::files {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool writeAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t put = ::write(fd, text.data() + written, text.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    written += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

std::optional<std::string> readSmallFile(const std::filesystem::path& file, std::size_t limit,
                                         bool followLinks, std::string& problem) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused just below.
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW);
  Descriptor fd(::open(file.c_str(), flags));
  if (fd.get() < 0) {
    if (errno != ENOENT) problem = file.string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    problem = file.string() + ": not a regular file";
    return std::nullopt;
  }
  std::string text;
  std::vector<char> buffer(4096);
  while (text.size() <= limit) {  // one byte past the limit tells a file that is too long
    ssize_t got = ::read(fd.get(), buffer.data(), std::min(buffer.size(), limit + 1 - text.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = file.string() + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(buffer.data(), static_cast<std::size_t>(got));
  }
  if (text.size() > limit) {
    problem = file.string() + ": longer than " + std::to_string(limit) + " bytes: not read";
    return std::nullopt;
  }
  return text;
}

namespace {

std::filesystem::path absoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  if (!value || *value == '\0') return {};
  std::filesystem::path path(value);
  return path.is_absolute() ? path : std::filesystem::path();
}

}  // namespace

std::filesystem::path userConfigDirectory() {
  if (auto config = absoluteVariable("XDG_CONFIG_HOME"); !config.empty()) return config;
  auto home = absoluteVariable("HOME");
  return home.empty() ? home : home / ".config";
}

std::filesystem::path userCacheDirectory() {
  if (auto cache = absoluteVariable("XDG_CACHE_HOME"); !cache.empty()) return cache;
  auto home = absoluteVariable("HOME");
  return home.empty() ? home : home / ".cache";
}

std::filesystem::path userRuntimeDirectory() {
  return absoluteVariable("XDG_RUNTIME_DIR");
}

int replaceFile(const std::filesystem::path& file, const std::string& text) {
  std::error_code error;
  const auto directory = file.has_parent_path() ? file.parent_path() : ".";
  if (std::filesystem::create_directories(directory, error))
    std::filesystem::permissions(directory, std::filesystem::perms::owner_all, error);
  // Built piece by piece: GCC 12 at -O3 misreads "literal" + temporary string (-Wrestrict).
  std::string hidden = ".";
  hidden += file.filename().string();
  hidden += ".XXXXXX";
  std::string temporary = directory / hidden;
  std::vector<char> name(temporary.begin(), temporary.end());
  name.push_back('\0');
  Descriptor fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.get() < 0) return errno;
  int failure = writeAll(fd.get(), text) && ::fsync(fd.get()) == 0 ? 0 : (errno ? errno : EIO);
  if (failure == 0 && ::rename(name.data(), file.c_str()) == 0) return 0;
  if (failure == 0) failure = errno;
  ::unlink(name.data());
  return failure;
}

}  // namespace ventra::files
