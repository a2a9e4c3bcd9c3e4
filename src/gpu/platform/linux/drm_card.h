#pragma once

// What the kernel's DRM devices say about a graphics card: its PCI identity and, under amdgpu,
// its memory. Compute drivers report memory as they like (Clover: the larger of GTT and VRAM,
// capped), so the card's own figure comes from here when the driver's device can be matched to
// a card. No driver stack here: plain sysfs text, parsed strictly.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ventra::gpu::linux_gpu {

struct DrmCard {
  std::string pciAddress;  // "0000:03:00.0", the name of the card's device link
  std::uint32_t vendor = 0;
  std::uint32_t device = 0;
  std::uint32_t revision = 0;
  std::optional<std::uint64_t> vramBytes;  // amdgpu's mem_info_vram_total
};

// The cards under /sys/class/drm (cardN entries, connectors and render nodes left out).
std::vector<DrmCard> drmCards(const std::filesystem::path& root = "/sys/class/drm");

// The card of a driver's device: by PCI address where the driver tells it; otherwise the only
// card of the device's vendor, if there is exactly one.
std::optional<DrmCard> cardOf(const std::vector<DrmCard>& cards, std::uint32_t vendor,
                              const std::optional<std::string>& pciAddress);

// A card's temperature as its kernel driver reports it (amdgpu: the hwmon directory of the PCI
// device, temp1_input and temp1_crit in millidegrees Celsius). Nothing where the card has no
// such reading or it does not parse; a critical limit of 200 °C or more counts as none (drivers
// write their largest number where the chip has no limit), and so does one at or below 0 °C,
// which would stop a load at once.
struct CardTemperature {
  double celsius = 0;
  std::optional<double> criticalCelsius;
  std::optional<double> implausibleCritical;  // at or below 0 °C: no limit, kept to be said
};
std::optional<CardTemperature> cardTemperature(
    const std::string& pciAddress, const std::filesystem::path& devices = "/sys/bus/pci/devices");

// Memory is sold in whole GiB, and a board can report a little less: firmware keeps some
// (an 8 GB RX 580 has been seen at 8,573,157,376 bytes). A figure within 1/32 below a whole
// GiB counts as that GiB; any other figure is kept as it is.
std::uint64_t marketedMemory(std::uint64_t vramBytes);

// The marketing name libdrm's amdgpu.ids gives a PCI device id and revision, as written there
// ("AMD Radeon RX 580 Series").
std::optional<std::string> amdgpuMarketingName(
    std::uint32_t device, std::uint32_t revision,
    const std::filesystem::path& ids = "/usr/share/libdrm/amdgpu.ids");

}  // namespace ventra::gpu::linux_gpu
