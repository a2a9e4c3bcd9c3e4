// The SMC port's contract on the backends this program can reach by itself: the emulator, and
// the applesmc backend over the driver model, read as root and as a user who is not.
#include "support/smc_port_contract.h"

#include "composition/emulated_smc.h"
#include "smc/platform/linux/applesmc.h"
#include "support/model_sysfs.h"

namespace ventra::testing {
namespace {

SmcPortUnderTest emulator() {
  return {"emulator", [] { return emulatedSmc(contractProfile()).composition; }, true};
}

SmcPortUnderTest applesmcModel(bool root) {
  auto compose = [root] {
    auto model = std::make_shared<ApplesmcModel>(ApplesmcModel::keysOf(contractProfile()));
    return Composition::ofSmc(smc::linux_backend::appleSMCService(
        std::make_shared<ModelSysfs>(model, root), [](FourCharCode) { return false; }));
  };
  return {root ? "applesmcAsRoot" : "applesmcAsUser", compose, root};
}

INSTANTIATE_TEST_SUITE_P(Backends, SmcPortContract,
                         ::testing::Values(emulator(), applesmcModel(true), applesmcModel(false)),
                         [](const auto& backend) { return backend.param.name; });

}  // namespace
}  // namespace ventra::testing
