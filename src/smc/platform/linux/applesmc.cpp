#include "smc/platform/linux/applesmc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "smc/param_struct.h"
#include "smc/platform/linux/driver_failure.h"
#include "smc/platform/linux/hwmon_keys.h"
#include "smc/platform/linux/raw_keys.h"
#include "smc/platform/linux/sysfs_text.h"

namespace ventra::smc::linux_backend {
namespace pf = platform;
using Selector = SMCParamStruct::Selector;

namespace {

class DirectorySysfs final : public Sysfs {
 public:
  explicit DirectorySysfs(std::filesystem::path root) : root_(std::move(root)) {}

  // A sysfs attribute holds one page at most: a longer file is not the driver's (EFBIG), and is
  // never read whole.
  int read(const std::string& name, std::string& contents) override {
    constexpr std::size_t kLongestAttribute = 4096;
    int fd = openAttribute(name, O_RDONLY);
    if (fd < 0) return -fd;
    contents.clear();
    char buffer[256];
    ssize_t got = 0;
    while (contents.size() <= kLongestAttribute && (got = ::read(fd, buffer, sizeof buffer)) > 0)
      contents.append(buffer, std::size_t(got));
    int error = got < 0 ? errno : contents.size() > kLongestAttribute ? EFBIG : 0;
    ::close(fd);
    return error;
  }

  int write(const std::string& name, const std::string& contents) override {
    int fd = openAttribute(name, O_WRONLY);
    if (fd < 0) return -fd;
    ssize_t put = ::write(fd, contents.data(), contents.size());
    int error = put < 0 ? errno : (std::size_t(put) == contents.size() ? 0 : EIO);
    ::close(fd);
    return error;
  }

  bool exists(const std::string& name) override {
    return ::access((root_ / name).c_str(), F_OK) == 0;
  }

  std::vector<std::string> list(const std::string& directory) override {
    std::vector<std::string> entries;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root_ / directory, error))
      entries.push_back(entry.path().filename().string());
    std::sort(entries.begin(), entries.end());
    return entries;
  }

 private:
  // The driver's attributes are regular files. Anything else in their place (a FIFO, a device)
  // is refused without waiting on it: EIO, not what the driver serves. -errno on failure.
  int openAttribute(const std::string& name, int access) {
    int fd = ::open((root_ / name).c_str(), access | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -errno;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
      ::close(fd);
      return -EIO;
    }
    return fd;
  }

  std::filesystem::path root_;
};

class ApplesmcClient final : public pf::UserClient {
 public:
  ApplesmcClient(std::shared_ptr<Sysfs> files, KnownTemperatureKeys known)
      : files_(files), raw_(files), hwmon_(files, std::move(known)) {}

  pf::kern_return_t callStructMethod(std::uint32_t selector, std::span<const std::uint8_t> input,
                                     std::span<std::uint8_t> output,
                                     std::size_t& outputSize) override;

 private:
  void handle(const SMCParamStruct& request, SMCParamStruct& reply);
  template <typename Raw, typename Hwmon>
  auto eitherWay(FourCharCode code, Raw&& raw, Hwmon&& hwmon);
  void writeValue(const SMCParamStruct& request, SMCParamStruct& reply);

  std::shared_ptr<Sysfs> files_;
  RawKeys raw_;
  HwmonKeys hwmon_;
  bool maySelect_ = true;  // until key_at_index refuses us
  std::mutex mutex_;
};

// A process that may select keys (root) reads every key through key_at_index: the SMC's own
// bytes, type and size. One that may not reads the keys the hwmon attributes carry, rebuilt
// from their text; any other key is "not found" only where the attributes prove it absent.
template <typename Raw, typename Hwmon>
auto ApplesmcClient::eitherWay(FourCharCode code, Raw&& raw, Hwmon&& hwmon) {
  if (maySelect_) {
    try {
      return raw();
    } catch (const DriverFailure& failure) {
      if (failure.rc != pf::kIOReturnNotPrivileged) throw;
      maySelect_ = false;
    }
  }
  if (hwmon_.carries(code)) return hwmon();
  if (hwmon_.showsAbsent(code)) throw keyNotFound();
  throw callFailed(pf::kIOReturnNotPrivileged);
}

// The driver writes only fan minimums ("F<n>Mn") and targets ("F<n>Tg"), as decimal rpm.
void ApplesmcClient::writeValue(const SMCParamStruct& request, SMCParamStruct& reply) {
  std::string key = fourCharCodeToString(request.key);
  auto file = fanAttributeFile(key);
  if (!file || (!key.ends_with("Mn") && !key.ends_with("Tg")))
    throw callFailed(pf::kIOReturnUnsupported);
  if (request.keyInfo.dataSize != 2) throw keySizeMismatch();
  if (!files_->exists(*file)) throw keyNotFound();
  std::string rpm = std::to_string(intFromFPE2({request.bytes[0], request.bytes[1]}));
  if (int error = files_->write(*file, rpm)) throw callFailed(ioReturnFromErrno(error));
  reply.key = request.key;
}

void ApplesmcClient::handle(const SMCParamStruct& request, SMCParamStruct& reply) {
  reply.key = request.key;
  const FourCharCode code = request.key;
  const std::uint32_t size = request.keyInfo.dataSize;
  switch (request.data8) {
    case rawValue(Selector::kSMCGetKeyFromIndex):
      reply.key = raw_.keyAt(request.data32);
      return;
    case rawValue(Selector::kSMCGetKeyInfo): {
      DataType info = eitherWay(
          code, [&] { return raw_.keyInfo(code); }, [&] { return hwmon_.keyInfo(code); });
      reply.keyInfo.dataType = info.type;
      reply.keyInfo.dataSize = info.size;
      return;
    }
    case rawValue(Selector::kSMCReadKey):
      reply.bytes = eitherWay(
          code, [&] { return raw_.read(code, size); }, [&] { return hwmon_.read(code, size); });
      return;
    case rawValue(Selector::kSMCWriteKey):
      return writeValue(request, reply);
    default:
      throw callFailed(pf::kIOReturnUnsupported);
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
  } catch (const DriverFailure& failure) {
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

class ApplesmcService final : public pf::Service {
 public:
  ApplesmcService(std::shared_ptr<Sysfs> files, KnownTemperatureKeys known)
      : files_(std::move(files)), known_(std::move(known)) {}
  pf::kern_return_t open(std::uint32_t type, std::unique_ptr<pf::UserClient>& client) override {
    if (type != 0) return pf::kIOReturnBadArgument;
    std::string count;
    if (int error = files_->read("key_count", count)) return ioReturnFromErrno(error);
    client = std::make_unique<ApplesmcClient>(files_, known_);
    return pf::kIOReturnSuccess;
  }

 private:
  std::shared_ptr<Sysfs> files_;
  KnownTemperatureKeys known_;
};

}  // namespace

bool Sysfs::exists(const std::string& name) {
  std::string ignored;
  return read(name, ignored) != ENOENT;
}

std::vector<std::string> Sysfs::list(const std::string&) {
  return {};
}

std::filesystem::path defaultDevicePath() {
  return "/sys/devices/platform/applesmc.768";
}

std::shared_ptr<Sysfs> directorySysfs(std::filesystem::path root) {
  return std::make_shared<DirectorySysfs>(std::move(root));
}

std::shared_ptr<pf::Service> appleSMCService(std::shared_ptr<Sysfs> files,
                                             KnownTemperatureKeys known) {
  return std::make_shared<ApplesmcService>(std::move(files), std::move(known));
}

std::shared_ptr<pf::Service> hostService(const std::filesystem::path& root,
                                         KnownTemperatureKeys known) {
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) return nullptr;
  return appleSMCService(directorySysfs(root), std::move(known));
}

std::vector<FourCharCode> labelledTemperatureKeys(const std::filesystem::path& root) {
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) return {};
  return HwmonKeys(directorySysfs(root), {}).temperatureKeys();
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
