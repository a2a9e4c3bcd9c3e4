#pragma once

// The tiles `ventractl gpu tune` found fastest, one for each device and driver, kept in a file
// the composition names (the user's cache directory): a choice belongs to the device and to the
// very driver it was measured on, and a new driver is tuned anew.
//
// A stored tile decides how hard the program drives a card, so the store is read only where
// nobody but root or the caller could have written it (files/trusted_path.h). A file that is
// there but is no store of ours (damaged, too long, another program's) is never overwritten
// unseen: the next save sets it aside beside itself, and says where.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gpu/platform/tile/kernel_tile.h"

namespace ventra::gpu::tile {

struct StoredTile {
  std::string device;  // the device's name, as the port reports it
  std::string driver;  // the driver's name and version
  KernelTile tile;
  double gflops = 0;  // what the tuner measured
};

// What forgetting a device's tile did.
struct Forgetting {
  std::optional<StoredTile> forgotten;  // nothing: none was stored for the device and driver
  std::optional<std::string> problem;   // why the store could not be read or written
};

class TileStore {
 public:
  // Reads the file as `reader` (a user id) may trust it. One that is not there is empty; one
  // that cannot be trusted or is not a store of ours is read as empty and said in problem().
  explicit TileStore(std::filesystem::path file, uid_t reader);
  std::optional<StoredTile> find(const std::string& device, const std::string& driver) const;
  // Replaces the device and driver's tile, if there was one.
  void put(StoredTile stored);
  // Why save() would refuse to write (no place, a place others may write to), asked before the
  // work whose result is to be kept; nothing where it would try.
  std::optional<std::string> whyNotSaved() const;
  // Writes the file whole, a file that was no store set aside first (setAside()); why not, where
  // it could not or may not.
  std::optional<std::string> save();
  const std::optional<std::string>& problem() const { return problem_; }
  const std::filesystem::path& file() const { return file_; }
  // Where save() put a file that was no store of ours; empty where it put none.
  const std::filesystem::path& setAside() const { return setAside_; }

 private:
  void read();
  void erase(const std::string& device, const std::string& driver);
  friend Forgetting forgetStoredTile(const std::filesystem::path&, uid_t, const std::string&,
                                     const std::string&);

  std::filesystem::path file_;
  uid_t reader_;
  std::vector<StoredTile> tiles_;
  std::optional<std::string> problem_;
  bool damaged_ = false;    // there, read, and no store of ours: set aside before a save
  bool untrusted_ = false;  // others could have written it: neither read nor written
  std::filesystem::path setAside_;
};

// The one way a stored tile goes: dropped from the store in `file` for good, so that the device
// takes its class's default from then on.
Forgetting forgetStoredTile(const std::filesystem::path& file, uid_t reader,
                            const std::string& device, const std::string& driver);

}  // namespace ventra::gpu::tile
