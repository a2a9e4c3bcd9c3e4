// Our shader's tiles, the store of those tuned on a device and the choice of one: no driver is
// needed, so every rule is tested here at its edges, the store's attacks included.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "gpu/platform/tile/kernel_tile.h"
#include "gpu/platform/tile/tile_choice.h"
#include "gpu/platform/tile/tile_store.h"

namespace ventra {
namespace {
namespace fs = std::filesystem;
namespace tile = gpu::tile;

std::string textOf(const fs::path& file) {
  std::ostringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

// A directory of its own under /tmp, gone with the test.
class TileFiles : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(file.parent_path()); }
  void TearDown() override { fs::remove_all(dir); }
  const fs::path dir = fs::temp_directory_path() / ("tiles-" + std::to_string(getpid()));
  const fs::path file = dir / "ventra" / "tiles.json";
  const uid_t me = ::geteuid();
};

// A tile reads back as written; one a device cannot run says why; the card's default does at
// least 32 operations a byte read, as the load needs to keep an RX 580 busy.
TEST(KernelTiles, AreReadStrictlyAndFitTheDevice) {
  EXPECT_EQ(tile::parseKernelTile("16x16x8x8x8"), (tile::KernelTile{16, 16, 8, 8, 8}));
  EXPECT_EQ(tile::parseKernelTile("8x2x16x16-direct"), (tile::KernelTile{8, 2, 16, 16, 1, 0}));
  for (const char* bad :
       {"", "16x16x8x8", "16x16x8x8x8x", "16x16x0x8x8", "16X16x8x8x8", "16x16x8x8x8 ",
        "99999x1x1x1x1", "8x2x16x16x8-direct", "-direct", "8x2x16-direct", "8x2x16x16-Direct"})
    EXPECT_FALSE(tile::parseKernelTile(bad)) << bad;
  const tile::TileLimits lavapipe{1024, 1024, 1024, 32 * 1024};
  for (const auto& tile : tile::tuningCandidates()) {
    EXPECT_EQ(tile::parseKernelTile(tile.text()), tile);
    EXPECT_FALSE(tile::whyTileDoesNotFit(tile, lavapipe)) << tile.text();
  }
  EXPECT_EQ(tile::whyTileDoesNotFit({64, 64, 4, 4, 8}, lavapipe),
            "the tile 64x64x4x4x8 needs a workgroup of 4096 invocations; this device allows 1024");
  EXPECT_EQ(tile::whyTileDoesNotFit({16, 16, 8, 8, 64}, lavapipe),
            "the tile 16x16x8x8x64 needs 65536 bytes of shared memory; this device has 32768");
  EXPECT_EQ(tile::whyTileDoesNotFit({8, 8, 16, 32, 1, 0}, lavapipe),
            "the tile 8x8x16x32-direct asks more registers than any device has");
  EXPECT_FALSE(tile::whyTileDoesNotFit({8, 8, 8, 8, 1, 0}, {64, 64, 64, 0}))
      << "a direct tile needs no shared memory";
  EXPECT_GE(tile::defaultTile(tile::DeviceClass::discreteAmd).operationsPerByte(), 32.0);
}

// The store keeps one tile for each device and driver, writes itself whole and reads back what it
// wrote; entries it cannot read are left out; forgetting says what it forgot.
TEST_F(TileFiles, TheStoreKeepsOneTilePerDeviceAndDriver) {
  {
    tile::TileStore store(file, me);
    EXPECT_FALSE(store.problem()) << "no file yet: an empty store";
    store.put({"AMD Radeon RX 580", "radv Mesa 25.0.7", {16, 16, 8, 8, 8}, 3900});
    store.put({"AMD Radeon RX 580", "radv Mesa 25.0.7", {16, 16, 4, 8, 8}, 4100});
    store.put({"llvmpipe", "llvmpipe Mesa 22.3.6", {8, 8, 8, 8, 8}, 9});
    ASSERT_FALSE(store.save());
  }
  const tile::TileStore again(file, me);
  EXPECT_EQ(again.find("AMD Radeon RX 580", "radv Mesa 25.0.7")->tile,
            (tile::KernelTile{16, 16, 4, 8, 8}))
      << "the later one";
  EXPECT_FALSE(again.find("AMD Radeon RX 580", "radv Mesa 25.1.0")) << "another driver";
  const auto forgot = tile::forgetStoredTile(file, me, "llvmpipe", "llvmpipe Mesa 22.3.6");
  ASSERT_TRUE(forgot.forgotten);
  EXPECT_EQ(forgot.forgotten->tile, (tile::KernelTile{8, 8, 8, 8, 8}));
  EXPECT_FALSE(forgot.problem);
  EXPECT_FALSE(tile::TileStore(file, me).find("llvmpipe", "llvmpipe Mesa 22.3.6"));
  EXPECT_TRUE(tile::TileStore(file, me).find("AMD Radeon RX 580", "radv Mesa 25.0.7"));
  const auto again2 = tile::forgetStoredTile(file, me, "llvmpipe", "llvmpipe Mesa 22.3.6");
  EXPECT_FALSE(again2.forgotten || again2.problem) << "nothing to forget is no problem";
  std::ofstream(file) << R"({"tiles": [{"device": "a", "driver": "b", "tile": "0x0x0x0x0"},
                                       {"device": "c", "driver": "d", "tile": "8x8x8x8x8"}]})";
  EXPECT_FALSE(tile::TileStore(file, me).find("a", "b")) << "a tile that does not read is left out";
  EXPECT_TRUE(tile::TileStore(file, me).find("c", "d"));
}

// A file that is no store of ours (another shape, a NUL and garbage after the object, too long
// to be one) is read as empty, said, and set aside by the next save, never written over.
TEST_F(TileFiles, AFileThatIsNoStoreIsSetAsideNotOverwritten) {
  const std::string good = R"({"tiles": [{"device": "c", "driver": "d", "tile": "8x8x8x8x8"}]})";
  const std::string longStore = R"({"tiles": [)" + std::string(70 * 1024, ' ') +
                                R"({"device": "c", "driver": "d", "tile": "8x8x8x8x8"}]})";
  for (const std::string& damaged :
       {std::string("[]"), good + std::string(1, '\0') + "garbage", longStore}) {
    fs::remove(fs::path(file).concat(".damaged"));
    std::ofstream(file, std::ios::binary) << damaged;
    tile::TileStore store(file, me);
    ASSERT_TRUE(store.problem()) << damaged.substr(0, 80);
    EXPECT_FALSE(store.find("c", "d")) << damaged.substr(0, 80);
    store.put({"e", "f", {16, 16, 8, 8, 8}, 1});
    ASSERT_FALSE(store.save());
    EXPECT_EQ(store.setAside(), fs::path(file).concat(".damaged"));
    EXPECT_EQ(textOf(store.setAside()), damaged) << "kept whole";
    EXPECT_TRUE(tile::TileStore(file, me).find("e", "f"));
  }
}

// A store others may write to could make the load crawl or fail: neither read nor written. The
// same rule as the modules': root or the reader owns every step, and only they write to it.
TEST_F(TileFiles, AStoreOthersMayWriteIsNeitherReadNorWritten) {
  std::ofstream(file) << R"({"tiles": [{"device": "c", "driver": "d", "tile": "8x8x8x8x8"}]})";
  fs::permissions(dir, fs::perms(0755));
  fs::permissions(file.parent_path(), fs::perms(0777));
  tile::TileStore store(file, me);
  EXPECT_FALSE(store.find("c", "d"));
  ASSERT_TRUE(store.problem());
  EXPECT_NE(store.problem()->find("may be written by others"), std::string::npos)
      << *store.problem();
  store.put({"e", "f", {16, 16, 8, 8, 8}, 1});
  EXPECT_TRUE(store.save());
  EXPECT_FALSE(textOf(file).find("\"e\"") != std::string::npos) << "not written";
  fs::remove(file);
  tile::TileStore fresh(file, me);
  fresh.put({"e", "f", {16, 16, 8, 8, 8}, 1});
  auto refused = fresh.save();
  ASSERT_TRUE(refused) << "nor a new one in such a directory";
  EXPECT_NE(refused->find("may be written by others"), std::string::npos) << *refused;
  if (me == 0) {  // sudo -E: root in a user's cache directory
    fs::permissions(file.parent_path(), fs::perms(0700));
    ASSERT_EQ(::chown(file.parent_path().c_str(), 1000, 1000), 0);
    auto asRoot = fresh.save();
    ASSERT_TRUE(asRoot);
    EXPECT_NE(asRoot->find("belongs to user 1000"), std::string::npos) << *asRoot;
    EXPECT_FALSE(fs::exists(file));
  }
}

// The choice: a given tile always; a stored one only where the tuner could have picked it and it
// fits the device, else it is forgotten for good and the class's default taken.
TEST_F(TileFiles, OnlyATileTheTunerMayPickAndTheDeviceFitsIsTakenFromTheStore) {
  const tile::TileDevice lavapipe{
      "llvmpipe", "llvmpipe Mesa", tile::DeviceClass::cpu, {1024, 1024, 1024, 32 * 1024}};
  const tile::TileStorePlace place{file, me};
  const tile::KernelTile given{8, 8, 8, 8, 8};
  EXPECT_EQ(tile::chooseTile(lavapipe, given, place).source, tile::TileSource::given);
  auto fallback = tile::chooseTile(lavapipe, std::nullopt, place);
  EXPECT_EQ(fallback.source, tile::TileSource::classDefault);
  EXPECT_EQ(fallback.tile, tile::defaultTile(tile::DeviceClass::cpu));
  EXPECT_EQ(fallback.words(), "the default for a CPU device");
  auto store = [&](const tile::KernelTile& kept) {
    tile::TileStore tiles(file, me);
    tiles.put({lavapipe.name, lavapipe.driver, kept, 1});
    ASSERT_FALSE(tiles.save());
  };
  store({16, 16, 4, 4, 8});
  auto tuned = tile::chooseTile(lavapipe, std::nullopt, place);
  EXPECT_EQ(tuned.source, tile::TileSource::tuned);
  EXPECT_EQ(tuned.words(), "tuned on this device");
  EXPECT_EQ(tuned.tile, (tile::KernelTile{16, 16, 4, 4, 8}));
  // Fits the device and would take minutes for a product of 512: never the tuner's.
  store({1, 1, 1, 1, 1024});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(tile::chooseTile(lavapipe, std::nullopt, place).source, tile::TileSource::classDefault);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(
                "is forgotten (the tile 1x1x1x1x1024 is not one 'ventractl gpu tune' tries)"),
            std::string::npos);
  EXPECT_FALSE(tile::TileStore(file, me).find(lavapipe.name, lavapipe.driver)) << "for good";
  // The tuner's, but more than this device allows.
  store({16, 16, 8, 8, 16});
  auto small = lavapipe;
  small.limits.sharedBytes = 8 * 1024;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(tile::chooseTile(small, std::nullopt, place).source, tile::TileSource::classDefault);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("bytes of shared memory"),
            std::string::npos);
  EXPECT_FALSE(tile::TileStore(file, me).find(lavapipe.name, lavapipe.driver));
}

}  // namespace
}  // namespace ventra
