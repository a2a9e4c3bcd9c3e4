// The applesmc driver's text is outside input: malformed answers must become SMC errors.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "composition/composition.h"
#include "smc/platform/linux/applesmc.h"
#include "smc/smc_access.h"

namespace {

// Every file read takes the next slice of the fuzz input; writes succeed or fail by a byte.
class FuzzedSysfs : public ventra::smc::linux_backend::Sysfs {
 public:
  FuzzedSysfs(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  int read(const std::string&, std::string& contents) override {
    std::size_t length = take() % 40;
    contents.clear();
    for (std::size_t i = 0; i < length; ++i) contents += static_cast<char>(take());
    return take() == 0xFF ? EIO : 0;
  }
  int write(const std::string&, const std::string&) override { return take() == 0xFE ? EINVAL : 0; }

 private:
  std::uint8_t take() { return at_ < size_ ? data_[at_++] : 0; }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ventra;
  namespace pf = smc::platform;
  ScopedComposition service(Composition::ofSmc(
      smc::linux_backend::appleSMCService(std::make_shared<FuzzedSysfs>(data, size))));
  try {
    SMCAccess::openConnection();
    SMCAccess::readKey({0x46304163, DataTypes::FPE2});
    SMCAccess::getKeyInfo(0x54413050);
    SMCAccess::listAllKeys();
  } catch (const SMCAccess::SMCError&) {
  }
  SMCAccess::closeConnection();
  return 0;
}
