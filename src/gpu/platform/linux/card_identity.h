#pragma once

// One set of rules for every Linux stack: which card a driver's device is, what the original
// platform would call it, and how much memory it has. OpenCL and Vulkan report the same card in
// their own words; both come through here, so an RX 580 8 GB is "AMD Radeon RX 580" with 8 GiB
// whichever stack drives it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gpu/platform/backend.h"
#include "gpu/platform/linux/device_name.h"
#include "gpu/platform/linux/drm_card.h"

namespace ventra::gpu::linux_gpu {

// What a stack reports about one of its devices.
struct DriverReport {
  DeviceStrings strings;                  // pciMarketingName is filled in here
  std::optional<std::string> pciAddress;  // where the stack tells it
  std::uint64_t memoryBytes = 0;          // the stack's own memory figure
  std::string memorySource;               // what that figure is, in words
};

struct CardIdentity {
  std::string name;
  std::uint64_t workingSetBytes = 0;
  std::string pciAddress;    // empty where unknown
  std::string memorySource;  // where workingSetBytes came from
  bool ellesmere = false;
};

// The card behind the report (by PCI address, else the only card of its vendor), named by the
// original platform's rules, its memory from amdgpu where the card is known and says it, else
// the stack's own figure.
CardIdentity identifyCard(const DriverReport& report, const std::vector<DrmCard>& cards,
                          const std::filesystem::path& amdgpuIds = "/usr/share/libdrm/amdgpu.ids");

// The temperature of the card a device was identified as (by its PCI address), as its kernel
// driver reports it; nothing where the card is not known or reports none.
std::optional<platform::DeviceTemperature> deviceTemperature(const platform::DeviceFacts& facts);

}  // namespace ventra::gpu::linux_gpu
