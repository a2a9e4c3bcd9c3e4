#pragma once

// The keys an ordinary user can reach. The driver computes its world-readable hwmon attributes
// from SMC keys (fan speeds from F<n>Ac/Mn/Mx/Sf/Tg, fan names from F<n>ID, the fan count from
// FNum, temperatures from every sp78 key between "T" and "U"); this turns each attribute's text
// back into the key's bytes, exact except for the low bits the driver drops, which none of our
// data types decode (fpe2's fraction, sp78 below a quarter degree). Selecting any other key
// needs key_at_index, which only root may write.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "smc/data_types.h"
#include "smc/platform/linux/applesmc.h"

namespace ventra::smc::linux_backend {

// Attribute text to key bytes; nothing when the text is not what the driver writes.
std::optional<SMCDataBytes> fanSpeedBytes(std::string_view text);     // "1500\n" -> fpe2
std::optional<SMCDataBytes> fanLabelBytes(std::string_view text);     // "PCI\n" -> {fds
std::optional<SMCDataBytes> temperatureBytes(std::string_view text);  // "29250\n" -> sp78

// The fan file that carries F<n>ID/Ac/Mn/Mx/Sf/Tg ("F0Mn" -> "fan1_min"); nothing for other keys.
std::optional<std::string> fanAttributeFile(const std::string& key);

// Key information and reads through the hwmon attributes, for the keys they carry. Each read
// is one attribute, which the driver answers by key: no selection another process can move.
class HwmonKeys final {
 public:
  HwmonKeys(std::shared_ptr<Sysfs> files, KnownTemperatureKeys known);
  bool carries(FourCharCode code);
  // Whether the attributes prove that the key does not exist: a fan key of a fan beyond the
  // driver's fan count, or a known temperature key missing from its complete list of sp78 keys.
  // Nothing else is proven absent without root.
  bool showsAbsent(FourCharCode code);
  // For a key it carries; throw DriverFailure (keyNotFound where the driver reports EINVAL).
  DataType keyInfo(FourCharCode code);
  SMCDataBytes read(FourCharCode code, std::uint32_t size);
  // The temperature keys the driver labels (every sp78 key between "T" and "U"), in key order.
  std::vector<FourCharCode> temperatureKeys();

 private:
  enum class Kind { fanCount, fanLabel, fanSpeed, temperature };
  struct Route {
    Kind kind;
    std::string file;
    DataType type;
  };
  std::optional<Route> route(FourCharCode code);
  std::optional<Route> fanRoute(const std::string& key);
  std::optional<Route> temperatureRoute(FourCharCode code);
  const std::map<FourCharCode, std::string>& temperatureFiles();
  bool findAttributes();
  std::string readAttribute(const std::string& file);
  std::uint8_t fanCount();

  std::shared_ptr<Sysfs> files_;
  KnownTemperatureKeys known_;
  std::optional<bool> found_;  // whether the attributes exist, once looked for
  std::string prefix_;         // "" or "hwmon/hwmonN/": mainline and a later layout
  std::optional<std::map<FourCharCode, std::string>> temperatureFiles_;
};

}  // namespace ventra::smc::linux_backend
