#include "smc/platform/linux/applesmc.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <map>
#include <mutex>
#include <optional>

#include "smc/param_struct.h"

namespace ventra::smc::linux_backend {
namespace pf = platform;
using Selector = SMCParamStruct::Selector;

namespace {

constexpr std::uint8_t kKeyNotFound = 132;
constexpr std::uint8_t kKeySizeMismatch = 0x87;
constexpr int kIndexRaceRetries = 3;

class DirectorySysfs : public Sysfs {
 public:
  explicit DirectorySysfs(std::filesystem::path root) : root_(std::move(root)) {}

  int read(const std::string& name, std::string& contents) override {
    int fd = ::open((root_ / name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    contents.clear();
    char buffer[256];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) contents.append(buffer, std::size_t(got));
    int error = got < 0 ? errno : 0;
    ::close(fd);
    return error;
  }

  int write(const std::string& name, const std::string& contents) override {
    int fd = ::open((root_ / name).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    ssize_t put = ::write(fd, contents.data(), contents.size());
    int error = put < 0 ? errno : (std::size_t(put) == contents.size() ? 0 : EIO);
    ::close(fd);
    return error;
  }

 private:
  std::filesystem::path root_;
};

// A driver answer that is not what the driver documents reads as an I/O error.
std::optional<std::uint64_t> decimal(const std::string& text) {
  std::string_view digits(text);
  if (!digits.empty() && digits.back() == '\n') digits.remove_suffix(1);
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
    return std::nullopt;
  return value;
}

std::optional<FourCharCode> keyName(const std::string& text) {
  if (text.size() != 5 || text[4] != '\n') return std::nullopt;
  return fourCharCodeFromLiteral(std::string_view(text).substr(0, 4));
}

struct Failure {
  pf::kern_return_t rc = pf::kIOReturnSuccess;
  std::uint8_t result = 0;
};

class ApplesmcClient : public pf::UserClient {
 public:
  explicit ApplesmcClient(std::shared_ptr<Sysfs> files) : files_(std::move(files)) {}

  pf::kern_return_t callStructMethod(std::uint32_t selector, std::span<const std::uint8_t> input,
                                     std::span<std::uint8_t> output,
                                     std::size_t& outputSize) override;

 private:
  void handle(const SMCParamStruct& request, SMCParamStruct& reply);
  void keyAt(std::uint32_t index, SMCParamStruct& reply);
  void keyInfo(const SMCParamStruct& request, SMCParamStruct& reply);
  void readValue(const SMCParamStruct& request, SMCParamStruct& reply);
  void writeValue(const SMCParamStruct& request, SMCParamStruct& reply);
  std::uint32_t indexOf(FourCharCode code);
  FourCharCode nameAt(std::uint32_t index);
  std::string readFile(const std::string& name);
  void writeFile(const std::string& name, const std::string& text);
  template <typename F>
  void atStableIndex(FourCharCode code, F&& readAttributes);

  std::shared_ptr<Sysfs> files_;
  std::mutex mutex_;
  std::map<FourCharCode, std::uint32_t> indexCache_;
};

std::string ApplesmcClient::readFile(const std::string& name) {
  std::string text;
  if (int error = files_->read(name, text)) throw Failure{ioReturnFromErrno(error)};
  return text;
}

void ApplesmcClient::writeFile(const std::string& name, const std::string& text) {
  if (int error = files_->write(name, text)) throw Failure{ioReturnFromErrno(error)};
}

FourCharCode ApplesmcClient::nameAt(std::uint32_t index) {
  std::string text;
  int error = files_->write("key_at_index", std::to_string(index));
  if (error == EINVAL) throw Failure{pf::kIOReturnSuccess, kKeyNotFound};
  if (error) throw Failure{ioReturnFromErrno(error)};
  auto code = keyName(readFile("key_at_index_name"));
  if (!code) throw Failure{pf::kIOReturnIOError};
  return *code;
}

// Keys are sorted by their four bytes, so a key's index is found by bisection once and cached.
std::uint32_t ApplesmcClient::indexOf(FourCharCode code) {
  if (auto cached = indexCache_.find(code); cached != indexCache_.end()) return cached->second;
  auto count = decimal(readFile("key_count"));
  if (!count || *count > 0xFFFFFFFF) throw Failure{pf::kIOReturnIOError};
  std::uint64_t low = 0, high = *count;
  while (low < high) {
    auto middle = static_cast<std::uint32_t>(low + (high - low) / 2);
    FourCharCode found = nameAt(middle);
    if (found == code) return indexCache_[code] = middle;
    if (found < code)
      low = middle + 1;
    else
      high = middle;
  }
  throw Failure{pf::kIOReturnSuccess, kKeyNotFound};
}

// key_at_index is one value for the whole system: another process may move it between our
// write and our reads, so the name is read again afterwards and the reads are redone.
template <typename F>
void ApplesmcClient::atStableIndex(FourCharCode code, F&& readAttributes) {
  for (int attempt = 0; attempt < kIndexRaceRetries; ++attempt) {
    std::uint32_t index = indexOf(code);
    if (nameAt(index) != code) {
      indexCache_.erase(code);
      continue;
    }
    readAttributes();
    if (keyName(readFile("key_at_index_name")) == code) return;
  }
  throw Failure{pf::kIOReturnBusy};
}

void ApplesmcClient::keyAt(std::uint32_t index, SMCParamStruct& reply) {
  reply.key = nameAt(index);
}

void ApplesmcClient::keyInfo(const SMCParamStruct& request, SMCParamStruct& reply) {
  atStableIndex(request.key, [&] {
    auto type = keyName(readFile("key_at_index_type"));
    auto size = decimal(readFile("key_at_index_data_length"));
    if (!type || !size || *size > 32) throw Failure{pf::kIOReturnIOError};
    reply.keyInfo.dataType = *type;
    reply.keyInfo.dataSize = static_cast<std::uint32_t>(*size);
  });
}

void ApplesmcClient::readValue(const SMCParamStruct& request, SMCParamStruct& reply) {
  atStableIndex(request.key, [&] {
    auto size = decimal(readFile("key_at_index_data_length"));
    if (!size || *size > 32) throw Failure{pf::kIOReturnIOError};
    if (*size != request.keyInfo.dataSize) throw Failure{pf::kIOReturnSuccess, kKeySizeMismatch};
    std::string data = readFile("key_at_index_data");
    if (data.size() != *size) throw Failure{pf::kIOReturnIOError};
    reply.bytes.fill(0);
    std::copy(data.begin(), data.end(), reply.bytes.begin());
  });
}

// The driver writes only fan minimums ("F<n>Mn") and targets ("F<n>Tg"), as decimal rpm.
void ApplesmcClient::writeValue(const SMCParamStruct& request, SMCParamStruct& reply) {
  std::string key = fourCharCodeToString(request.key);
  bool fanDigit = key.size() == 4 && key[0] == 'F' && key[1] >= '0' && key[1] <= '9';
  std::string suffix = key.substr(2);
  if (!fanDigit || (suffix != "Mn" && suffix != "Tg")) throw Failure{pf::kIOReturnUnsupported};
  if (request.keyInfo.dataSize != 2) throw Failure{pf::kIOReturnSuccess, kKeySizeMismatch};
  std::string file =
      "fan" + std::to_string(key[1] - '0' + 1) + (suffix == "Mn" ? "_min" : "_output");
  std::string probe;
  if (files_->read(file, probe) == ENOENT) throw Failure{pf::kIOReturnSuccess, kKeyNotFound};
  writeFile(file, std::to_string(intFromFPE2({request.bytes[0], request.bytes[1]})));
  reply.key = request.key;
}

void ApplesmcClient::handle(const SMCParamStruct& request, SMCParamStruct& reply) {
  reply.key = request.key;
  switch (request.data8) {
    case rawValue(Selector::kSMCGetKeyFromIndex):
      return keyAt(request.data32, reply);
    case rawValue(Selector::kSMCGetKeyInfo):
      return keyInfo(request, reply);
    case rawValue(Selector::kSMCReadKey):
      return readValue(request, reply);
    case rawValue(Selector::kSMCWriteKey):
      return writeValue(request, reply);
    default:
      throw Failure{pf::kIOReturnUnsupported};
  }
}

pf::kern_return_t ApplesmcClient::callStructMethod(std::uint32_t selector,
                                                   std::span<const std::uint8_t> input,
                                                   std::span<std::uint8_t> output,
                                                   std::size_t& outputSize) {
  if (selector != rawValue(Selector::kSMCHandleYPCEvent) || input.size() != SMCParamStruct::kSize ||
      output.size() < SMCParamStruct::kSize)
    return pf::kIOReturnBadArgument;
  SMCParamStruct request = SMCParamStruct::fromRaw(input.data());
  SMCParamStruct reply{};
  std::lock_guard lock(mutex_);
  try {
    handle(request, reply);
  } catch (const Failure& failure) {
    if (failure.rc != pf::kIOReturnSuccess) return failure.rc;
    reply = SMCParamStruct{};
    reply.key = request.key;
    reply.result = failure.result;
  }
  auto raw = reply.toRaw();
  std::copy(raw.begin(), raw.end(), output.begin());
  outputSize = SMCParamStruct::kSize;
  return pf::kIOReturnSuccess;
}

class ApplesmcService : public pf::Service {
 public:
  explicit ApplesmcService(std::shared_ptr<Sysfs> files) : files_(std::move(files)) {}
  pf::kern_return_t open(std::uint32_t type, std::unique_ptr<pf::UserClient>& client) override {
    if (type != 0) return pf::kIOReturnBadArgument;
    std::string count;
    if (int error = files_->read("key_count", count)) return ioReturnFromErrno(error);
    client = std::make_unique<ApplesmcClient>(files_);
    return pf::kIOReturnSuccess;
  }

 private:
  std::shared_ptr<Sysfs> files_;
};

}  // namespace

std::filesystem::path defaultDevicePath() {
  return "/sys/devices/platform/applesmc.768";
}

std::shared_ptr<Sysfs> directorySysfs(std::filesystem::path root) {
  return std::make_shared<DirectorySysfs>(std::move(root));
}

std::shared_ptr<pf::Service> appleSMCService(std::shared_ptr<Sysfs> files) {
  return std::make_shared<ApplesmcService>(std::move(files));
}

void registerHostService(const std::filesystem::path& root) {
  std::error_code error;
  if (std::filesystem::is_directory(root, error))
    pf::registerService(pf::kAppleSMCServiceName, appleSMCService(directorySysfs(root)));
}

pf::kern_return_t ioReturnFromErrno(int error) {
  switch (error) {
    case 0:
      return pf::kIOReturnSuccess;
    case EACCES:
    case EPERM:
      return pf::kIOReturnNotPrivileged;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return pf::kIOReturnNoDevice;
    case EINVAL:
      return pf::kIOReturnBadArgument;
    case EIO:
      return pf::kIOReturnIOError;
    case ETIMEDOUT:
      return pf::kIOReturnTimeout;
    case EBUSY:
    case EAGAIN:
      return pf::kIOReturnBusy;
    case ENOMEM:
      return pf::kIOReturnNoMemory;
    default:
      return pf::kIOReturnError;
  }
}

}  // namespace ventra::smc::linux_backend
