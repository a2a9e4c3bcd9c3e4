#include "gpu/platform/linux/card_identity.h"

namespace ventra::gpu::linux_gpu {

CardIdentity identifyCard(const DriverReport& report, const std::vector<DrmCard>& cards,
                          const std::filesystem::path& amdgpuIds) {
  auto card = cardOf(cards, report.strings.vendorId, report.pciAddress);
  DeviceStrings strings = report.strings;
  if (card)
    strings.pciMarketingName =
        amdgpuMarketingName(card->device, card->revision, amdgpuIds).value_or("");
  CardIdentity identity;
  identity.name = originalDeviceName(strings);
  identity.ellesmere = isEllesmere(strings);
  identity.pciAddress = card ? card->pciAddress : report.pciAddress.value_or("");
  if (card && card->vramBytes) {
    identity.workingSetBytes = marketedMemory(*card->vramBytes);
    identity.memorySource = "amdgpu mem_info_vram_total of " + card->pciAddress;
  } else {
    identity.workingSetBytes = report.memoryBytes;
    identity.memorySource = report.memorySource;
  }
  return identity;
}

std::optional<platform::DeviceTemperature> deviceTemperature(const platform::DeviceFacts& facts) {
  auto card = cardTemperature(facts.details.pciAddress);
  if (!card) return std::nullopt;
  return platform::DeviceTemperature{card->celsius, card->criticalCelsius,
                                     card->implausibleCritical};
}

}  // namespace ventra::gpu::linux_gpu
