#include "files/trusted_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace ventra {
namespace {

// Root or the caller owns the module and every directory above it, and no one else may write
// there; a sticky directory anyone may write to (/tmp) counts, as its entries are safe.
TEST(TrustedPaths, OnlyWhereOnlyRootOrTheCallerCanChangeThem) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("trust-" + std::to_string(getpid()));
  fs::create_directories(dir / "lib");
  const fs::path module = dir / "lib" / "libventra-vulkan.so";
  std::ofstream(module) << "module";
  fs::permissions(dir, fs::perms(0755));
  fs::permissions(dir / "lib", fs::perms(0755));
  fs::permissions(module, fs::perms(0644));
  const uid_t me = ::geteuid();
  EXPECT_EQ(files::whyNotTrusted(module, me), std::nullopt) << "under /tmp, sticky";
  fs::permissions(dir / "lib", fs::perms(0775));
  EXPECT_EQ(files::whyNotTrusted(module, me), (dir / "lib").string() + " may be written by others");
  fs::permissions(dir / "lib", fs::perms(0755));
  fs::permissions(module, fs::perms(0666));
  EXPECT_EQ(files::whyNotTrusted(module, me), module.string() + " may be written by others");
  fs::permissions(module, fs::perms(0644));
  if (me == 0) {
    ASSERT_EQ(::chown(module.c_str(), 1000, 1000), 0);
    EXPECT_EQ(files::whyNotTrusted(module, 0), module.string() + " belongs to user 1000");
    EXPECT_EQ(files::whyNotTrusted(module, 1000), std::nullopt) << "the caller's own";
  }
  fs::create_symlink(module, dir / "link.so");
  EXPECT_EQ(files::whyNotTrusted(dir / "link.so", me),
            me == 0 ? module.string() + " belongs to user 1000" : std::optional<std::string>())
      << "judged where the link leads";
  EXPECT_TRUE(files::whyNotTrusted(dir / "missing.so", me));
  // A file still to be written is judged by the deepest directory there is.
  EXPECT_EQ(files::whyNotTrustedToWrite(dir / "lib" / "cache" / "tiles.json", me), std::nullopt);
  fs::permissions(dir / "lib", fs::perms(0777));
  EXPECT_EQ(files::whyNotTrustedToWrite(dir / "lib" / "cache" / "tiles.json", me),
            (dir / "lib").string() + " may be written by others");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ventra
