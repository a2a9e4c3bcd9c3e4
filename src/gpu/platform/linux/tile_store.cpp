#include "gpu/platform/linux/tile_store.h"

#include <algorithm>
#include <cstring>

#include <nlohmann/json.hpp>

#include "files/small_files.h"

namespace ventra::gpu::linux_gpu {
namespace {
using json = nlohmann::json;

constexpr std::size_t kLargestStore = 64 * 1024;

std::optional<StoredTile> entryOf(const json& entry) {
  if (!entry.is_object()) return std::nullopt;
  const auto device = entry.find("device"), driver = entry.find("driver"),
             tile = entry.find("tile"), gflops = entry.find("gflops");
  if (device == entry.end() || !device->is_string() || driver == entry.end() ||
      !driver->is_string() || tile == entry.end() || !tile->is_string())
    return std::nullopt;
  auto parsed = parseKernelTile(tile->get<std::string>());
  if (!parsed) return std::nullopt;
  return StoredTile{device->get<std::string>(), driver->get<std::string>(), *parsed,
                    gflops != entry.end() && gflops->is_number() ? gflops->get<double>() : 0.0};
}

}  // namespace

TileStore::TileStore(std::filesystem::path file) : file_(std::move(file)) {
  if (file_.empty()) return;
  std::string problem;
  auto text = files::readSmallFile(file_, kLargestStore, false, problem);
  if (!text) {
    if (!problem.empty()) problem_ = problem;
    return;
  }
  json document = json::parse(*text, nullptr, false);
  if (!document.is_object() || !document.contains("tiles") || !document["tiles"].is_array()) {
    problem_ = file_.string() + " is not a store of tiles: ignored";
    return;
  }
  for (const auto& entry : document["tiles"])
    if (auto stored = entryOf(entry)) tiles_.push_back(std::move(*stored));
}

std::optional<StoredTile> TileStore::find(const std::string& device,
                                          const std::string& driver) const {
  for (const auto& stored : tiles_)
    if (stored.device == device && stored.driver == driver) return stored;
  return std::nullopt;
}

void TileStore::put(StoredTile stored) {
  drop(stored.device, stored.driver);
  tiles_.push_back(std::move(stored));
}

void TileStore::drop(const std::string& device, const std::string& driver) {
  std::erase_if(tiles_,
                [&](const StoredTile& s) { return s.device == device && s.driver == driver; });
}

std::optional<std::string> TileStore::save() const {
  if (file_.empty()) return "no cache directory ($XDG_CACHE_HOME or $HOME) to keep tiles in";
  json tiles = json::array();
  for (const auto& s : tiles_)
    tiles.push_back({{"device", s.device},
                     {"driver", s.driver},
                     {"tile", s.tile.text()},
                     {"gflops", s.gflops}});
  const std::string text =
      json{{"tiles", tiles}}.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
  if (int error = files::replaceFile(file_, text))
    return "cannot write " + file_.string() + ": " + std::strerror(error);
  return std::nullopt;
}

std::optional<std::string> dropStoredTile(const std::filesystem::path& file,
                                          const std::string& device, const std::string& driver) {
  TileStore store(file);
  store.drop(device, driver);
  return store.save();
}

std::filesystem::path userTileStore() {
  auto cache = files::userCacheDirectory();
  return cache.empty() ? cache : cache / "ventra" / "tiles.json";
}

}  // namespace ventra::gpu::linux_gpu
