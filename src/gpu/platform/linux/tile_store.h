#pragma once

// The tiles `ventractl gpu tune` found fastest, one for each device and driver, kept in the
// user's cache directory ($XDG_CACHE_HOME/ventra/tiles.json): a choice belongs to the device and
// to the very driver it was measured on, and a new driver is tuned anew.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gpu/platform/linux/kernel_tile.h"

namespace ventra::gpu::linux_gpu {

struct StoredTile {
  std::string device;  // the device's name, as the port reports it
  std::string driver;  // the driver's name and version
  KernelTile tile;
  double gflops = 0;  // what the tuner measured
};

class TileStore {
 public:
  // Reads the file; one that is not there is empty, one that is not a store of ours is read as
  // empty and said in problem().
  explicit TileStore(std::filesystem::path file);
  std::optional<StoredTile> find(const std::string& device, const std::string& driver) const;
  void put(StoredTile stored);
  void drop(const std::string& device, const std::string& driver);
  // Writes the file whole; why not, where it could not.
  std::optional<std::string> save() const;
  const std::optional<std::string>& problem() const { return problem_; }
  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
  std::vector<StoredTile> tiles_;
  std::optional<std::string> problem_;
};

// Where a device's tile came from when it was tuned on it; the load names its tile's source.
inline constexpr char kTunedOnThisDevice[] = "tuned on this device";

// Drops the tile stored in `file` for the device and driver, for good: why the file could not be
// written, where it could not.
std::optional<std::string> dropStoredTile(const std::filesystem::path& file,
                                          const std::string& device, const std::string& driver);

// $XDG_CACHE_HOME/ventra/tiles.json, else ~/.cache/ventra/tiles.json; empty without either.
std::filesystem::path userTileStore();

}  // namespace ventra::gpu::linux_gpu
