#pragma once

// The tile our shader runs with on a device: the one the caller gives (the tuner, tests), else
// the one tuned on this device and driver (tile_store.h) where it is one the tuner may pick and
// fits the device, else the default for the device's class. A stored tile refused here, or one
// that will not build on the device, is forgotten with a message on standard error, never used.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "gpu/platform/tile/kernel_tile.h"

namespace ventra::gpu::tile {

// What the choice needs to know of a device, as its driver reports it.
struct TileDevice {
  std::string name;
  std::string driver;  // its name and its own version text, as the store tells drivers apart
  DeviceClass kind = DeviceClass::discreteOther;
  TileLimits limits;
};

enum class TileSource { given, tuned, classDefault };

struct TileChoice {
  KernelTile tile;
  TileSource source = TileSource::classDefault;
  DeviceClass kind = DeviceClass::discreteOther;
  // "given", "tuned on this device", "the default for a discrete AMD card"...
  std::string words() const;
};

// Where the tiles tuned on this host are kept, and by whom they are read.
struct TileStorePlace {
  std::filesystem::path file;  // empty: no store is read
  uid_t reader = 0;
};

TileChoice chooseTile(const TileDevice& device, const std::optional<KernelTile>& given,
                      const TileStorePlace& store);

// The stored tile would not build on the device: forgotten, said why, and its class's default
// taken instead.
TileChoice forgetUnbuildableTile(const TileDevice& device, const TileStorePlace& store,
                                 const std::string& why);

}  // namespace ventra::gpu::tile
