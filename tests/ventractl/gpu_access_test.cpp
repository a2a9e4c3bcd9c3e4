// Why no GPU device: read from a sysfs and /dev laid out as the kernel lays them out.
#include "host/gpu_access.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

namespace ventra {
namespace {
namespace fs = std::filesystem;

class GpuAccess : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root / "sys/bus/pci/drivers"); }
  void TearDown() override { fs::remove_all(root); }

  // A PCI device of class `pciClass` bound to `driver` (none where empty).
  void addDevice(const std::string& address, const std::string& pciClass,
                 const std::string& driver) {
    auto device = root / "sys/bus/pci/devices" / address;
    fs::create_directories(device);
    std::ofstream(device / "class") << pciClass << "\n";
    std::ofstream(device / "vendor") << "0x1002\n";
    std::ofstream(device / "device") << "0x67df\n";
    if (driver.empty()) return;
    fs::create_directories(root / "sys/bus/pci/drivers" / driver);
    fs::create_directory_symlink(root / "sys/bus/pci/drivers" / driver, device / "driver");
  }
  void addRenderNode() {
    fs::create_directories(root / "dev/dri");
    std::ofstream(root / "dev/dri/renderD128");
  }
  std::optional<std::string> problem(bool mayOpen) {
    return ctl::gpuAccessProblem(
        {root / "sys", root / "dev", [mayOpen](const fs::path&) { return mayOpen; }});
  }

  fs::path root = fs::temp_directory_path() / ("gpu-access-" + std::to_string(getpid()));
};

TEST_F(GpuAccess, ACardPassedToAVirtualMachineIsNamed) {
  addDevice("0000:00:1f.3", "0x040300", "snd_hda_intel");  // not a display: ignored
  addDevice("0000:03:00.0", "0x030000", "vfio-pci");
  addRenderNode();
  EXPECT_EQ(problem(true),
            "the graphics card at 0000:03:00.0 (1002:67df) is bound to vfio-pci: it is passed "
            "through to a virtual machine, and this host cannot use it. Run the reset where the "
            "card is, or give the card back to amdgpu");
}

TEST_F(GpuAccess, ACardWithoutADriverIsNamed) {
  addDevice("0000:03:00.0", "0x030000", "");
  auto found = problem(true);
  ASSERT_TRUE(found);
  EXPECT_NE(found->find("has no driver bound: load amdgpu"), std::string::npos) << *found;
}

TEST_F(GpuAccess, ARenderNodeThisUserMayNotOpenNamesItsGroup) {
  addDevice("0000:03:00.0", "0x030000", "amdgpu");
  addRenderNode();
  auto found = problem(false);
  ASSERT_TRUE(found);
  EXPECT_NE(found->find((root / "dev/dri/renderD128").string() +
                        " is there, but this user may not open it: add the user to the "),
            std::string::npos)
      << *found;
  EXPECT_NE(found->find("'sudo usermod -aG "), std::string::npos) << *found;
  EXPECT_FALSE(problem(true)) << "a node the user may open: no access problem";
}

TEST_F(GpuAccess, ADriverThatMadeNoRenderNodeAndAHostWithNoCard) {
  EXPECT_FALSE(problem(true)) << "nothing there: the stacks' own words stand";
  addDevice("0000:03:00.0", "0x030000", "amdgpu");
  EXPECT_EQ(problem(true), "no GPU render node in " + (root / "dev/dri").string() +
                               ": the card's driver (amdgpu) made none; see 'sudo dmesg'");
}

}  // namespace
}  // namespace ventra
