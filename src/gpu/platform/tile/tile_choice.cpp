#include "gpu/platform/tile/tile_choice.h"

#include <algorithm>
#include <iostream>

#include "gpu/platform/tile/tile_store.h"

namespace ventra::gpu::tile {
namespace {

const char* classWords(DeviceClass kind) {
  switch (kind) {
    case DeviceClass::discreteAmd:
      return "the default for a discrete AMD card";
    case DeviceClass::discreteOther:
      return "the default for a discrete card";
    case DeviceClass::integrated:
      return "the default for an integrated GPU";
    case DeviceClass::cpu:
      return "the default for a CPU device";
  }
  return "the default";
}

// A hand-written tile may fit the device and still crawl (1x1x1x1x1024 made a product of 512
// take minutes instead of a third of a second): only the tiles the tuner measures are taken.
std::optional<std::string> whyStoredTileIsRefused(const KernelTile& tile,
                                                  const TileLimits& limits) {
  const auto candidates = tuningCandidates();
  if (std::find(candidates.begin(), candidates.end(), tile) == candidates.end())
    return "the tile " + tile.text() + " is not one 'ventractl gpu tune' tries";
  return whyTileDoesNotFit(tile, limits);
}

TileChoice classDefault(const TileDevice& device) {
  return {defaultTile(device.kind), TileSource::classDefault, device.kind};
}

TileChoice forget(const TileDevice& device, const TileStorePlace& store, const std::string& why) {
  const auto forgetting = forgetStoredTile(store.file, store.reader, device.name, device.driver);
  std::cerr << "ventra: the tile tuned for " << device.name << " is forgotten (" << why
            << "); the default is used"
            << (forgetting.problem ? " (" + *forgetting.problem + ")" : "") << "\n";
  return classDefault(device);
}

}  // namespace

std::string TileChoice::words() const {
  switch (source) {
    case TileSource::given:
      return "given";
    case TileSource::tuned:
      return "tuned on this device";
    case TileSource::classDefault:
      break;
  }
  return classWords(kind);
}

TileChoice chooseTile(const TileDevice& device, const std::optional<KernelTile>& given,
                      const TileStorePlace& store) {
  if (given) return {*given, TileSource::given, device.kind};
  if (store.file.empty()) return classDefault(device);
  const TileStore tiles(store.file, store.reader);
  if (tiles.problem())
    std::cerr << "ventra: " << *tiles.problem() << "; the default tile is used\n";
  const auto stored = tiles.find(device.name, device.driver);
  if (!stored) return classDefault(device);
  if (auto why = whyStoredTileIsRefused(stored->tile, device.limits))
    return forget(device, store, *why);
  return {stored->tile, TileSource::tuned, device.kind};
}

TileChoice forgetUnbuildableTile(const TileDevice& device, const TileStorePlace& store,
                                 const std::string& why) {
  return forget(device, store, "it did not build: " + why);
}

}  // namespace ventra::gpu::tile
