#pragma once

// The shape of our product shader's work (vulkan/matmul.comp says what each number trades): a
// workgroup of tx × ty invocations, each owning tm × tn results, the interior staged `step`
// elements at a time. Chosen per device: a stored choice tuned on the device itself where there
// is one (tile_store.h), else the default for its class of device.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventra::gpu::tile {

struct KernelTile {
  std::uint32_t tx = 16, ty = 16, tm = 8, tn = 8, step = 8;
  // 1: both operands staged in shared memory; 0: read straight from memory, no barriers, for
  // devices whose caches already keep what is read again (CPUs). A 32-bit boolean, as the
  // shader's specialization constant wants it.
  std::uint32_t staged = 1;

  // Of the results a workgroup computes. Staged, its invocations share a ty·tm × tx·tn tile;
  // direct, all of them work the same tm rows, tn columns each.
  std::uint32_t rows() const { return staged ? ty * tm : tm; }
  std::uint32_t columns() const { return (staged ? tx : tx * ty) * tn; }
  std::uint32_t invocations() const { return tx * ty; }
  std::uint64_t sharedBytes() const {
    return staged ? std::uint64_t{rows() + columns()} * step * 4 : 0;
  }
  // Operations per byte read from device memory: 2 · rows · columns over (rows + columns) · 4.
  double operationsPerByte() const;
  std::string text() const;  // "16x16x8x8x8": tx, ty, tm, tn, step; "8x8x4x8-direct" unstaged
  friend bool operator==(const KernelTile&, const KernelTile&) = default;
};

std::optional<KernelTile> parseKernelTile(std::string_view text);

// What a device allows a compute pipeline.
struct TileLimits {
  std::uint32_t maxInvocations = 0;  // maxComputeWorkGroupInvocations
  std::uint32_t maxSizeX = 0, maxSizeY = 0;
  std::uint64_t sharedBytes = 0;  // maxComputeSharedMemorySize
};

// Why the tile cannot run on such a device; nothing where it can.
std::optional<std::string> whyTileDoesNotFit(const KernelTile& tile, const TileLimits& limits);

enum class DeviceClass { discreteAmd, discreteOther, integrated, cpu };

// The default for a class, from what is published of such devices. Polaris (the RX 580) runs
// 64-wide waves and gives each compute unit 64 KiB of shared memory and 256 vector registers a
// lane: a 256-invocation workgroup (4 waves) of 8 × 8 blocks, a 128 × 128 tile (32 operations a
// byte) in 8 KiB, about 90 registers a lane, so three workgroups fit a unit.
KernelTile defaultTile(DeviceClass kind);

// The tiles the tuner tries, every class's default among them.
std::vector<KernelTile> tuningCandidates();

}  // namespace ventra::gpu::tile
