#pragma once

#include <cstdint>
#include <string>

namespace ventra {

// "<default device name> <working set in whole GiB> GB"; empty when there is no default device.
std::string gpuIdentity();

// The figure of the identity: the byte count shifted right by 30, unsigned.
std::string identityText(const std::string& deviceName, std::uint64_t workingSetBytes);

}  // namespace ventra
