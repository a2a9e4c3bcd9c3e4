#pragma once

// The host backend on Linux: the kernel's applesmc driver through sysfs, behind the same
// 80-byte user-client interface as the emulator. Raw keys go through key_at_index, which only
// root may select; a process that may not falls back to the driver's world-readable fan and
// temperature attributes for the keys they carry (hwmon_keys.h).

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "smc/four_char_code.h"
#include "smc/platform/service.h"

namespace ventra::smc::linux_backend {

std::filesystem::path defaultDevicePath();  // /sys/devices/platform/applesmc.768

// The driver's attribute files by name, relative to its directory; read and write return 0 or
// an errno value.
class Sysfs {
 public:
  virtual ~Sysfs() = default;
  virtual int read(const std::string& name, std::string& contents) = 0;
  virtual int write(const std::string& name, const std::string& contents) = 0;
  virtual bool exists(const std::string& name);
  // The entries of a sub-directory, sorted; none where there is no such directory.
  virtual std::vector<std::string> list(const std::string& directory);
};

std::shared_ptr<Sysfs> directorySysfs(std::filesystem::path root);

// Keys known to be sp78 temperatures wherever an SMC has them (a sensor catalogue): for a
// process that may not select keys, such a key missing from the driver's list of sp78 keys is
// proven absent. Without it every unlisted "T" key needs root to tell.
using KnownTemperatureKeys = std::function<bool(FourCharCode)>;

std::shared_ptr<platform::Service> appleSMCService(std::shared_ptr<Sysfs> files,
                                                   KnownTemperatureKeys known = {});

// The host's "AppleSMC" service where the driver's directory exists; none otherwise.
std::shared_ptr<platform::Service> hostService(const std::filesystem::path& root,
                                               KnownTemperatureKeys known = {});

// The temperature keys the driver in `root` labels for every user (tempN_label): every sp78 key
// between "T" and "U", found without the root that listing the SMC's keys needs. Empty where
// the driver is not there.
std::vector<FourCharCode> labelledTemperatureKeys(const std::filesystem::path& root);

// The one place where errno values become platform return codes.
platform::kern_return_t ioReturnFromErrno(int error);

}  // namespace ventra::smc::linux_backend
