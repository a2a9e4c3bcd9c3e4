#include "gpu/platform/linux/drm_card.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <regex>
#include <sstream>

namespace ventra::gpu::linux_gpu {
namespace {

constexpr std::uint64_t kGiB = 1ull << 30;

std::optional<std::string> firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  return line;
}

std::optional<std::uint64_t> number(const std::optional<std::string>& text, int base) {
  if (!text) return {};
  std::string_view digits(*text);
  if (base == 16 && digits.starts_with("0x")) digits.remove_prefix(2);
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return {};
  return value;
}

std::optional<DrmCard> readCard(const std::filesystem::path& card) {
  std::error_code error;
  auto device = card / "device";
  auto target = std::filesystem::read_symlink(device, error);
  auto vendor = number(firstLine(device / "vendor"), 16);
  auto id = number(firstLine(device / "device"), 16);
  auto revision = number(firstLine(device / "revision"), 16);
  if (error || !vendor || !id || !revision) return {};
  return DrmCard{target.filename().string(), static_cast<std::uint32_t>(*vendor),
                 static_cast<std::uint32_t>(*id), static_cast<std::uint32_t>(*revision),
                 number(firstLine(device / "mem_info_vram_total"), 10)};
}

}  // namespace

std::vector<DrmCard> drmCards(const std::filesystem::path& root) {
  static const std::regex cardName("card[0-9]+");
  std::vector<DrmCard> cards;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    if (!std::regex_match(entry.path().filename().string(), cardName)) continue;
    if (auto card = readCard(entry.path())) cards.push_back(std::move(*card));
  }
  std::sort(cards.begin(), cards.end(),
            [](const DrmCard& a, const DrmCard& b) { return a.pciAddress < b.pciAddress; });
  return cards;
}

std::optional<DrmCard> cardOf(const std::vector<DrmCard>& cards, std::uint32_t vendor,
                              const std::optional<std::string>& pciAddress) {
  if (pciAddress) {
    for (const DrmCard& card : cards)
      if (card.pciAddress == *pciAddress) return card;
    return {};
  }
  std::optional<DrmCard> only;
  for (const DrmCard& card : cards) {
    if (card.vendor != vendor) continue;
    if (only) return {};  // two of a kind: no telling which
    only = card;
  }
  return only;
}

namespace {

std::optional<double> millidegrees(const std::filesystem::path& file) {
  auto text = firstLine(file);
  if (!text) return {};
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (text->empty() || ec != std::errc() || end != text->data() + text->size()) return {};
  return static_cast<double>(value) / 1000.0;
}

}  // namespace

std::optional<CardTemperature> cardTemperature(const std::string& pciAddress,
                                               const std::filesystem::path& devices) {
  constexpr double kNoLimit = 200.0;
  if (pciAddress.empty() || pciAddress.find('/') != std::string::npos) return {};
  std::error_code error;
  for (const auto& hwmon :
       std::filesystem::directory_iterator(devices / pciAddress / "hwmon", error)) {
    auto celsius = millidegrees(hwmon.path() / "temp1_input");
    if (!celsius) continue;
    auto critical = millidegrees(hwmon.path() / "temp1_crit");
    if (critical && *critical >= kNoLimit) critical.reset();
    if (critical && *critical <= 0) return CardTemperature{*celsius, std::nullopt, critical};
    return CardTemperature{*celsius, critical, std::nullopt};
  }
  return {};
}

std::uint64_t marketedMemory(std::uint64_t vramBytes) {
  std::uint64_t whole = (vramBytes / kGiB + 1) * kGiB;
  if (vramBytes % kGiB == 0 || whole - vramBytes > whole / 32) return vramBytes;
  return whole;
}

std::optional<std::string> amdgpuMarketingName(std::uint32_t device, std::uint32_t revision,
                                               const std::filesystem::path& ids) {
  std::ifstream in(ids);
  std::string line;
  while (std::getline(in, line)) {
    // "67DF,\tE7,\tAMD Radeon RX 580 Series"
    std::istringstream fields(line);
    std::string deviceText, revisionText, name;
    if (!std::getline(fields, deviceText, ',') || !std::getline(fields, revisionText, ',') ||
        !std::getline(fields, name))
      continue;
    auto trim = [](std::string text) {
      auto first = text.find_first_not_of(" \t");
      return first == std::string::npos ? std::string() : text.substr(first);
    };
    if (number(trim(deviceText), 16) == device && number(trim(revisionText), 16) == revision &&
        !trim(name).empty())
      return trim(name);
  }
  return {};
}

}  // namespace ventra::gpu::linux_gpu
