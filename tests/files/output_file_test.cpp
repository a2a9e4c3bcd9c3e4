// Where a user tells a command to write, as root and as anyone: streams are written through,
// regular files replaced whole with their owner and mode, links and missing directories refused.
#include "files/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <sstream>

namespace ventra {
namespace {
namespace fs = std::filesystem;

class OutputFile : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir);
    previousMask = ::umask(022);
  }
  void TearDown() override {
    ::umask(previousMask);
    fs::remove_all(dir);
  }
  static std::string read(const fs::path& file) {
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str();
  }
  static struct stat statusOf(const fs::path& file) {
    struct stat status {};
    ::lstat(file.c_str(), &status);
    return status;
  }

  fs::path dir = fs::temp_directory_path() / ("output-file-" + std::to_string(getpid()));
  mode_t previousMask = 0;
};

TEST_F(OutputFile, AStreamIsWrittenThroughAndStaysWhatItIs) {
  EXPECT_FALSE(files::writeOutputFile("/dev/null", "{}\n"));
  EXPECT_TRUE(S_ISCHR(statusOf("/dev/null").st_mode)) << "still the null device";
  const auto fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto reader = std::async(std::launch::async, [&] { return read(fifo); });
  EXPECT_FALSE(files::writeOutputFile(fifo, "through the pipe\n"));
  EXPECT_EQ(reader.get(), "through the pipe\n");
  EXPECT_TRUE(S_ISFIFO(statusOf(fifo).st_mode));
}

// A capture someone else made keeps its owner and mode; a new one gets the usual mode.
TEST_F(OutputFile, ARegularFileIsReplacedWholeWithItsOwnerAndMode) {
  const auto capture = dir / "capture.json";
  std::ofstream(capture) << "old";
  ::chmod(capture.c_str(), 0640);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(capture.c_str(), 65534, 65534), 0);
  }
  EXPECT_FALSE(files::writeOutputFile(capture, "new"));
  EXPECT_EQ(read(capture), "new");
  EXPECT_EQ(statusOf(capture).st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(statusOf(capture).st_uid, 65534u);
  }
  const auto fresh = dir / "fresh.json";
  EXPECT_FALSE(files::writeOutputFile(fresh, "made"));
  EXPECT_EQ(statusOf(fresh).st_mode & 07777, 0644u) << "0666 less the umask, as a shell makes it";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
      << "no temporary file left beside them";
}

TEST_F(OutputFile, LinksDirectoriesAndMissingDirectoriesAreRefused) {
  const auto target = dir / "target.json";
  std::ofstream(target) << "kept";
  fs::create_symlink(target, dir / "link.json");
  fs::create_symlink(dir / "nowhere.json", dir / "dangling.json");
  const std::pair<fs::path, std::string> refused[] = {
      {dir / "link.json", "is a symbolic link"},
      {dir / "dangling.json", "is a symbolic link"},
      {dir, "is a directory"},
      {dir / "new" / "sub" / "x.json", "no directory"},
  };
  for (const auto& [path, why] : refused) {
    auto problem = files::writeOutputFile(path, "x");
    ASSERT_TRUE(problem) << path;
    EXPECT_NE(problem->find(why), std::string::npos) << *problem;
  }
  EXPECT_EQ(read(target), "kept");
  EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
  EXPECT_FALSE(fs::exists(dir / "nowhere.json"));
  EXPECT_FALSE(fs::exists(dir / "new")) << "no directory is made";
}

}  // namespace
}  // namespace ventra
