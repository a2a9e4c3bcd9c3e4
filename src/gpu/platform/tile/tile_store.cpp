#include "gpu/platform/tile/tile_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "files/small_files.h"
#include "files/trusted_path.h"

namespace ventra::gpu::tile {
namespace {
using json = nlohmann::json;

// Three hundred devices and drivers; a longer file is none of ours.
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

// The store's entries, or why the text is none: the JSON reader takes a NUL for the end of
// its input, so a NUL anywhere is refused before it reads.
std::optional<json> storeDocument(const std::string& text, std::string& why) {
  if (text.find('\0') != std::string::npos) {
    why = "it holds a NUL byte";
    return std::nullopt;
  }
  json document = json::parse(text, nullptr, false);
  if (!document.is_object() || !document.contains("tiles") || !document["tiles"].is_array()) {
    why = "it is not a store of tiles";
    return std::nullopt;
  }
  return document;
}

std::string errorText(const std::filesystem::path& file, int error) {
  std::string text = "cannot write " + file.string() + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM)
    text +=
        " (a directory on the way belongs to someone else: an earlier 'sudo ventractl gpu "
        "tune' leaves one to root; 'ls -ld' shows whose, and its owner can remove it)";
  return text;
}

}  // namespace

TileStore::TileStore(std::filesystem::path file, uid_t reader)
    : file_(std::move(file)), reader_(reader) {
  if (!file_.empty()) read();
}

void TileStore::read() {
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(file_, error))) return;
  if (auto why = files::whyNotTrusted(file_, reader_)) {
    untrusted_ = true;
    problem_ = file_.string() + " is not used: " + *why;
    return;
  }
  std::string why;
  const auto size = std::filesystem::file_size(file_, error);
  if (!error && size > kLargestStore) {
    damaged_ = true;
    problem_ = file_.string() + " is not used: it is longer than a store of tiles can be (" +
               std::to_string(size) + " bytes)";
    return;
  }
  auto text = files::readSmallFile(file_, kLargestStore, false, why);
  if (!text) {
    if (!why.empty()) problem_ = why;
    return;
  }
  auto document = storeDocument(*text, why);
  if (!document) {
    damaged_ = true;
    problem_ = file_.string() + " is not used: " + why;
    return;
  }
  for (const auto& entry : (*document)["tiles"])
    if (auto stored = entryOf(entry)) tiles_.push_back(std::move(*stored));
}

std::optional<StoredTile> TileStore::find(const std::string& device,
                                          const std::string& driver) const {
  for (const auto& stored : tiles_)
    if (stored.device == device && stored.driver == driver) return stored;
  return std::nullopt;
}

void TileStore::put(StoredTile stored) {
  erase(stored.device, stored.driver);
  tiles_.push_back(std::move(stored));
}

void TileStore::erase(const std::string& device, const std::string& driver) {
  std::erase_if(tiles_,
                [&](const StoredTile& s) { return s.device == device && s.driver == driver; });
}

std::optional<std::string> TileStore::whyNotSaved() const {
  if (file_.empty()) return "no cache directory ($XDG_CACHE_HOME or $HOME) to keep tiles in";
  if (untrusted_) return problem_;
  if (auto why = files::whyNotTrustedToWrite(file_.parent_path(), reader_))
    return "tiles are not kept in " + file_.parent_path().string() + ": " + *why;
  return std::nullopt;
}

std::optional<std::string> TileStore::save() {
  if (auto why = whyNotSaved()) return why;
  if (damaged_) {
    std::filesystem::path aside = file_;
    aside += ".damaged";
    if (std::rename(file_.c_str(), aside.c_str()) != 0)
      return "cannot set " + file_.string() + " aside: " + std::strerror(errno);
    setAside_ = aside;
    damaged_ = false;
  }
  json tiles = json::array();
  for (const auto& s : tiles_)
    tiles.push_back({{"device", s.device},
                     {"driver", s.driver},
                     {"tile", s.tile.text()},
                     {"gflops", s.gflops}});
  const std::string text =
      json{{"tiles", tiles}}.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
  if (int error = files::replaceFile(file_, text)) return errorText(file_, error);
  return std::nullopt;
}

Forgetting forgetStoredTile(const std::filesystem::path& file, uid_t reader,
                            const std::string& device, const std::string& driver) {
  TileStore store(file, reader);
  Forgetting forgetting{store.find(device, driver), store.problem()};
  if (!forgetting.forgotten) return forgetting;
  store.erase(device, driver);
  forgetting.problem = store.save();
  return forgetting;
}

}  // namespace ventra::gpu::tile
