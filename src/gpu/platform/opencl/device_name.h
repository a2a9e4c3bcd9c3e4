#pragma once

#include <cstdint>
#include <string>

namespace ventra::gpu::opencl {

// What an OpenCL driver says about a device.
struct DeviceStrings {
  std::string vendor;
  std::uint32_t vendorId = 0;
  std::string deviceName;
  std::string boardName;  // CL_DEVICE_BOARD_NAME_AMD, empty where the driver has none
};

// The name the original platform gives the same card. AMD boards: the board name where the
// driver gives one, else the device name, without parenthesised driver detail or a trailing
// " Series", with "AMD " in front. Other vendors' names pass unchanged.
std::string originalDeviceName(const DeviceStrings& strings);

}  // namespace ventra::gpu::opencl
