#include "gpu/platform/linux/held_output.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <vector>

namespace ventra::gpu::linux_gpu {
namespace {

// Everything written to the memory file, from its start.
std::string readHeld(int fd) {
  std::string text;
  char buffer[4096];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
  return text;
}

void writeAll(int fd, const std::string& text) {
  for (std::size_t put = 0; put < text.size();) {
    const ssize_t n = ::write(fd, text.data() + put, text.size() - put);
    if (n <= 0) return;  // standard error is gone: there is nowhere else to say it
    put += static_cast<std::size_t>(n);
  }
}

}  // namespace

std::string linesCounted(const std::string& text, const std::string& speakers) {
  std::vector<std::string> order;
  std::map<std::string, int> counts;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (counts[line]++ == 0) order.push_back(std::move(line));
  }
  std::string said;
  for (const auto& line : order) {
    said += line;
    if (counts[line] > 1)
      said += " (" + std::to_string(counts[line]) + " times, from " + speakers + ")";
    said += "\n";
  }
  return said;
}

HeldDriverOutput::HeldDriverOutput(std::string speakers) : speakers_(std::move(speakers)) {
  std::fflush(stderr);
  held_ = ::memfd_create("ventra-driver-output", MFD_CLOEXEC);
  if (held_ < 0) return;
  saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved_ < 0 || ::dup2(held_, STDERR_FILENO) < 0) {
    if (saved_ >= 0) ::close(saved_);
    saved_ = -1;
  }
}

HeldDriverOutput::~HeldDriverOutput() {
  if (saved_ >= 0) {
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    writeAll(STDERR_FILENO, linesCounted(readHeld(held_), speakers_));
  }
  if (held_ >= 0) ::close(held_);
}

}  // namespace ventra::gpu::linux_gpu
