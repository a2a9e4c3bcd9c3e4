#pragma once

// Raw keys through key_at_index: a key's index by bisection over the sorted names, then the
// attributes at that index. Writing key_at_index needs root. Throws DriverFailure.

#include <map>
#include <memory>
#include <random>

#include "smc/data_types.h"
#include "smc/platform/linux/applesmc.h"

namespace ventra::smc::linux_backend {

class RawKeys final {
 public:
  explicit RawKeys(std::shared_ptr<Sysfs> files) : files_(std::move(files)) {}
  FourCharCode keyAt(std::uint32_t index);
  DataType keyInfo(FourCharCode code);
  SMCDataBytes read(FourCharCode code, std::uint32_t size);

 private:
  std::string readFile(const std::string& name);
  void select(std::uint32_t index);
  bool confirm(std::uint32_t index, FourCharCode code);
  void backOff(int attempt);
  std::uint32_t indexOf(FourCharCode code);
  template <typename F>
  auto atKey(FourCharCode code, F&& readAttributes);

  std::shared_ptr<Sysfs> files_;
  std::map<FourCharCode, std::uint32_t> indexCache_;
  std::minstd_rand random_{std::random_device{}()};
};

}  // namespace ventra::smc::linux_backend
