// A stand-in for the kernel's applesmc sysfs directory, served through FUSE: the driver model
// (support/applesmc_model.h) loaded from an emulator profile, with the driver's file modes, so
// that the kernel itself enforces who may write what. Mount it with allow_other and
// default_permissions and an ordinary user meets exactly the permissions of the real driver.
//
//   applesmc-standin [--load-control FILE] PROFILE MOUNTPOINT [FUSE options...]
//
// A profile with a fan under load (profiles/README.md) serves that fan's speed on real time, the
// GPU's load told by FILE: "load" while the GPU works, anything else (or no file) while it idles.
// A test writes it as it sees the load start and stop.

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "smc/platform/emulator/profile.h"
#include "support/applesmc_model.h"

namespace {

using ventra::testing::ApplesmcModel;

ApplesmcModel& model() {
  return *static_cast<ApplesmcModel*>(fuse_get_context()->private_data);
}

std::string fileName(const char* path) {
  return std::string(path).substr(1);
}

int getattr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  auto mode = model().mode(fileName(path));
  if (!mode) return -ENOENT;
  st->st_mode = S_IFREG | *mode;
  st->st_nlink = 1;
  st->st_size = 4096;  // as sysfs reports every attribute
  return 0;
}

int readdir(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
  for (const auto& name : model().files())
    fill(buffer, name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
  return 0;
}

// Like sysfs, a file's text is produced once per open file, at the first read.
int open(const char* path, fuse_file_info* fi) {
  if (!model().mode(fileName(path))) return -ENOENT;
  fi->direct_io = 1;
  fi->fh = reinterpret_cast<std::uint64_t>(new std::string());
  return 0;
}

int read(const char* path, char* buffer, std::size_t size, off_t offset, fuse_file_info* fi) {
  auto& text = *reinterpret_cast<std::string*>(fi->fh);
  if (offset == 0) {
    if (int error = model().show(fileName(path), text)) return -error;
  }
  if (static_cast<std::size_t>(offset) >= text.size()) return 0;
  std::size_t count = std::min(size, text.size() - static_cast<std::size_t>(offset));
  std::memcpy(buffer, text.data() + offset, count);
  return static_cast<int>(count);
}

int write(const char* path, const char* buffer, std::size_t size, off_t, fuse_file_info*) {
  if (int error = model().store(fileName(path), std::string(buffer, size))) return -error;
  return static_cast<int>(size);
}

int truncate(const char*, off_t, fuse_file_info*) {
  return 0;  // shells open attributes with O_TRUNC; sysfs ignores it
}

int release(const char*, fuse_file_info* fi) {
  delete reinterpret_cast<std::string*>(fi->fh);
  return 0;
}

// The fan under load's speed key follows the model, on real time, with the load the control
// file tells.
class LoadControlled {
 public:
  LoadControlled(ventra::smc::emulator::FanUnderLoadProfile profile, std::string control)
      : fan_(profile), control_(std::move(control)) {}
  void operator()(ApplesmcModel& smc) {
    const double now = seconds();
    std::string state;
    std::getline(std::ifstream(control_), state);
    if (state == "load" && !loaded_) fan_.loadStarted(now);
    if (state != "load" && loaded_) fan_.loadStopped(now);
    loaded_ = state == "load";
    const auto rpm = static_cast<int>(std::lround(fan_.rpmAt(now)));
    const std::string key = ventra::fourCharCodeToString(fan_.speedKey());
    for (auto& entry : smc.keys())
      if (entry.name == key) entry.data = {char(rpm >> 6), char((rpm & 0x3F) << 2)};
  }

 private:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  ventra::smc::emulator::FanUnderLoad fan_;
  std::string control_;
  bool loaded_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int main(int argc, char** argv) {
  std::string control;
  if (argc >= 3 && std::strcmp(argv[1], "--load-control") == 0) {
    control = argv[2];
    argv[2] = argv[0];  // the program's name, for FUSE's messages
    argv += 2;
    argc -= 2;
  }
  if (argc < 3) {
    std::cerr << "usage: applesmc-standin [--load-control FILE] PROFILE MOUNTPOINT [FUSE "
                 "options...]\n";
    return 2;
  }
  std::unique_ptr<ApplesmcModel> smc;
  try {
    auto profile = ventra::smc::emulator::loadProfileFile(argv[1]);
    smc = std::make_unique<ApplesmcModel>(ApplesmcModel::keysOf(profile));
    if (profile.fanUnderLoad) smc->beforeShow = LoadControlled(*profile.fanUnderLoad, control);
  } catch (const std::exception& error) {
    std::cerr << "applesmc-standin: " << error.what() << "\n";
    return 1;
  }
  fuse_operations operations{};
  operations.getattr = getattr;
  operations.readdir = readdir;
  operations.open = open;
  operations.read = read;
  operations.write = write;
  operations.truncate = truncate;
  operations.release = release;
  // fuse_main takes the program name followed by the mount point and its options.
  argv[1] = argv[0];
  return fuse_main(argc - 1, argv + 1, &operations, smc.get());
}
