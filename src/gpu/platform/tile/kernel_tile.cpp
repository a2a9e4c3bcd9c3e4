#include "gpu/platform/tile/kernel_tile.h"

#include <charconv>

namespace ventra::gpu::tile {

double KernelTile::operationsPerByte() const {
  return 2.0 * rows() * columns() / (4.0 * (rows() + columns()));
}

namespace {
constexpr std::string_view kDirect = "-direct";
}

std::string KernelTile::text() const {
  const std::string block = std::to_string(tx) + "x" + std::to_string(ty) + "x" +
                            std::to_string(tm) + "x" + std::to_string(tn);
  return staged ? block + "x" + std::to_string(step) : block + std::string(kDirect);
}

std::optional<KernelTile> parseKernelTile(std::string_view text) {
  const bool direct = text.ends_with(kDirect);
  if (direct) text.remove_suffix(kDirect.size());
  const int count = direct ? 4 : 5;
  std::uint32_t parts[5] = {0, 0, 0, 0, 1};
  const char* at = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < count; ++i) {
    auto [next, error] = std::from_chars(at, end, parts[i]);
    if (error != std::errc() || parts[i] == 0 || parts[i] > 1024) return std::nullopt;
    at = next;
    if (i < count - 1 && (at == end || *at++ != 'x')) return std::nullopt;
  }
  if (at != end) return std::nullopt;
  return KernelTile{parts[0], parts[1], parts[2], parts[3], parts[4], direct ? 0u : 1u};
}

std::optional<std::string> whyTileDoesNotFit(const KernelTile& tile, const TileLimits& limits) {
  const std::string named = "the tile " + tile.text();
  if (tile.tx == 0 || tile.ty == 0 || tile.tm == 0 || tile.tn == 0 || tile.step == 0)
    return named + " has a zero in it";
  if (tile.staged > 1) return named + " is neither staged nor direct";
  if (tile.tm * tile.tn > 256) return named + " asks more registers than any device has";
  if (tile.invocations() > limits.maxInvocations || tile.tx > limits.maxSizeX ||
      tile.ty > limits.maxSizeY)
    return named + " needs a workgroup of " + std::to_string(tile.invocations()) +
           " invocations; this device allows " + std::to_string(limits.maxInvocations);
  if (tile.sharedBytes() > limits.sharedBytes)
    return named + " needs " + std::to_string(tile.sharedBytes()) +
           " bytes of shared memory; this device has " + std::to_string(limits.sharedBytes);
  return std::nullopt;
}

KernelTile defaultTile(DeviceClass kind) {
  switch (kind) {
    case DeviceClass::discreteAmd:
    case DeviceClass::discreteOther:
      return {16, 16, 8, 8, 8};  // 128 × 128
    case DeviceClass::integrated:
      return {16, 16, 4, 4, 8};  // 64 × 64: smaller caches, fewer units to fill
    case DeviceClass::cpu:
      return {8, 2, 16, 16, 1, 0};  // a 256-bit register's lanes across, 256 sums each, direct
  }
  return {};
}

std::vector<KernelTile> tuningCandidates() {
  return {// staged, for GPUs: 128 × 128 down to 64 × 64 tiles, deeper and shallower steps
          {16, 16, 8, 8, 8},
          {16, 16, 8, 8, 16},
          {32, 8, 4, 8, 8},
          {16, 16, 4, 8, 8},
          {8, 8, 8, 8, 8},
          {16, 16, 4, 4, 8},
          // direct, for CPU devices: one to eight register widths of lanes, 64 to 256 sums each
          {8, 1, 16, 16, 1, 0},
          {8, 2, 16, 16, 1, 0},
          {8, 8, 16, 16, 1, 0},
          {16, 4, 16, 16, 1, 0},
          {8, 1, 8, 16, 1, 0},
          {8, 1, 8, 8, 1, 0}};
}

}  // namespace ventra::gpu::tile
