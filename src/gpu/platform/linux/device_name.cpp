#include "gpu/platform/linux/device_name.h"

#include <cstring>

namespace ventra::gpu::linux_gpu {
namespace {

constexpr std::uint32_t kAMDVendorId = 0x1002;

bool isAMD(const DeviceStrings& s) {
  return s.vendorId == kAMDVendorId ||
         s.vendor.find("Advanced Micro Devices") != std::string::npos || s.vendor == "AMD" ||
         s.vendor.rfind("AMD ", 0) == 0;
}

std::string trimmed(const std::string& text) {
  auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "Radeon RX 580 Series (POLARIS10 / DRM 3.49)" -> "Radeon RX 580 Series"
std::string withoutParentheses(const std::string& text) {
  std::string out;
  int depth = 0;
  for (char c : text) {
    if (c == '(') ++depth;
    if (depth == 0) out += c;
    if (c == ')' && depth > 0) --depth;
  }
  return trimmed(out);
}

// Some drivers name the chip, not the board ("AMD POLARIS10 (DRM 3.23.0, LLVM 6.0.0)").
const std::string& bestAMDName(const DeviceStrings& s) {
  if (!trimmed(s.boardName).empty()) return s.boardName;
  bool namesModel = s.deviceName.find("Radeon") != std::string::npos;
  if (!namesModel && !trimmed(s.pciMarketingName).empty()) return s.pciMarketingName;
  return s.deviceName;
}

}  // namespace

std::string originalDeviceName(const DeviceStrings& strings) {
  if (!isAMD(strings)) return strings.deviceName;
  std::string name = withoutParentheses(bestAMDName(strings));
  const std::string series = " Series";
  if (name.size() > series.size() && name.ends_with(series))
    name.erase(name.size() - series.size());
  if (name.rfind("AMD ", 0) != 0) name = "AMD " + name;
  return name;
}

bool isEllesmere(const DeviceStrings& strings) {
  if (!isAMD(strings)) return false;
  for (const char* chip : {"polaris10", "POLARIS10", "Ellesmere", "ellesmere"}) {
    if (strings.deviceName.find(chip) != std::string::npos) return true;
  }
  std::string name = originalDeviceName(strings);
  for (const char* model :
       {"AMD Radeon RX 470", "AMD Radeon RX 480", "AMD Radeon RX 570", "AMD Radeon RX 580"}) {
    if (name == model) return true;
  }
  return false;
}

std::string fieldText(const char* field, std::size_t size) {
  return std::string(field, strnlen(field, size));
}

}  // namespace ventra::gpu::linux_gpu
