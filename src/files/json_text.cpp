#include "files/json_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

namespace ventra::files {
namespace {
using json = nlohmann::json;

// Walks the text without building anything and stops at the first level too deep or the first
// member an object names twice (which the parser would settle silently, the last one winning).
class DepthCheck final : public nlohmann::json_sax<json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override {
    members_.emplace_back();
    return deeper();
  }
  bool key(string_t& name) override {
    if (members_.back().insert(name).second) return true;
    twice_ = name;
    return false;
  }
  bool end_object() override {
    members_.pop_back();
    --depth_;
    return true;
  }
  bool start_array(std::size_t) override {
    members_.emplace_back();  // arrays name no members; keeps the stack in step
    return deeper();
  }
  bool end_array() override {
    members_.pop_back();
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    syntax_ = e.what();
    return false;
  }
  bool tooDeep() const { return tooDeep_; }
  const std::optional<std::string>& twice() const { return twice_; }
  const std::string& syntax() const { return syntax_; }

 private:
  bool deeper() {
    tooDeep_ = ++depth_ > kMaxJsonDepth;
    return !tooDeep_;
  }
  int depth_ = 0;
  bool tooDeep_ = false;
  std::vector<std::set<std::string>> members_;  // of each open object
  std::optional<std::string> twice_;
  std::string syntax_;
};

}  // namespace

std::optional<json> parseJsonText(const std::string& text, std::string& problem) {
  // The parser stops at a NUL byte as at the end: what follows would go unread, unchecked.
  if (auto nul = text.find('\0'); nul != std::string::npos) {
    problem = "not valid JSON: a NUL byte at offset " + std::to_string(nul);
    return std::nullopt;
  }
  DepthCheck check;
  if (!json::sax_parse(text, &check)) {
    if (check.tooDeep())
      problem = "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    else if (check.twice())
      problem = "member \"" + *check.twice() + "\" appears twice in one object";
    else
      problem = "not valid JSON: " + check.syntax();
    return std::nullopt;
  }
  try {
    return json::parse(text);
  } catch (const json::exception& error) {  // numbers too large to hold
    problem = std::string("not valid JSON: ") + error.what();
    return std::nullopt;
  }
}

std::optional<std::string> readJsonFile(const std::filesystem::path& path, std::string& problem) {
  // O_NONBLOCK: a FIFO must not hang the open; it is refused below, as is a device.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    problem = errno == ENOENT ? "does not exist" : std::strerror(errno);
    return std::nullopt;
  }
  struct stat status {};
  std::string text;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    problem = S_ISDIR(status.st_mode) ? "is a directory, not a file" : "is not a regular file";
  } else {
    char buffer[65536];
    ssize_t got = 0;
    while (text.size() <= kMaxJsonFileBytes && (got = ::read(fd, buffer, sizeof buffer)) != 0) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        problem = std::strerror(errno);
        break;
      }
      text.append(buffer, static_cast<std::size_t>(got));
    }
    if (problem.empty() && text.size() > kMaxJsonFileBytes)
      problem = "is larger than " + std::to_string(kMaxJsonFileBytes >> 20) + " MiB";
  }
  ::close(fd);
  if (!problem.empty()) return std::nullopt;
  return text;
}

}  // namespace ventra::files
