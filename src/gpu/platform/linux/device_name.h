#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ventra::gpu::linux_gpu {

// The text in a fixed-size field of a driver's answer (Vulkan's 256-byte device name): up to its
// first NUL, or the whole field where a driver left none, never past it.
std::string fieldText(const char* field, std::size_t size);

// What a driver stack (OpenCL, Vulkan) says about a device.
struct DeviceStrings {
  std::string vendor;
  std::uint32_t vendorId = 0;
  std::string deviceName;
  std::string boardName;  // the vendor stack's board name, empty where the driver has none
  // What libdrm's amdgpu.ids calls the card's PCI id and revision, where the card is known.
  std::string pciMarketingName;
};

// The name the original platform gives the same card. AMD boards: the board name where the
// driver gives one, else the device name if it names a model ("Radeon ..."), else the PCI
// marketing name, else the device name; without parenthesised driver detail or a trailing
// " Series", with "AMD " in front. Other vendors' names pass unchanged.
std::string originalDeviceName(const DeviceStrings& strings);

// Whether the device is AMD's Ellesmere (Polaris 10/20: RX 470, 480, 570, 580), the chip whose
// tuned matrix parameters CLBlast ships; Mesa's names carry versions that defeat its lookup.
bool isEllesmere(const DeviceStrings& strings);

}  // namespace ventra::gpu::linux_gpu
