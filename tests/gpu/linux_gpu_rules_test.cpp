// The rules every Linux GPU stack shares and that need no driver: what each stack calls an
// RX 580, what the kernel says of the card, and how a product is cut into submissions.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "gpu/gpu_identity.h"
#include "gpu/platform/linux/card_identity.h"
#include "gpu/platform/linux/device_name.h"
#include "gpu/platform/linux/drm_card.h"
#include "gpu/platform/linux/held_output.h"
#include "gpu/platform/linux/row_blocks.h"
#include "gpu/platform/linux/stacks.h"

namespace ventra {
namespace {
namespace lg = gpu::linux_gpu;
using lg::DeviceStrings;

TEST(LinuxDeviceName, EveryStacksRx580BecomesTheOriginalName) {
  const DeviceStrings rx580[] = {
      // Mesa Clover (Debian 12), rusticl, ROCm, the vendor's legacy stack, RADV (Vulkan).
      {"AMD", 0x1002, "AMD Radeon RX 580 Series (polaris10, LLVM 15.0.6, DRM 3.49, 6.1.0-18-amd64)",
       "", ""},
      {"AMD", 0x1002, "AMD Radeon RX 580 Series (radeonsi, polaris10, LLVM 18.1.8, DRM 3.57, 6.12)",
       "", ""},
      {"Advanced Micro Devices, Inc.", 0x1002, "gfx803", "AMD Radeon RX 580 Series", ""},
      {"Advanced Micro Devices, Inc.", 0x1002, "Ellesmere", "Radeon RX 580 Series", ""},
      {"", 0x1002, "AMD Radeon RX 580 Series (RADV POLARIS10)", "", ""},
      // An older Clover names the chip; the card's PCI id and revision name the board.
      {"AMD", 0x1002, "AMD POLARIS10 (DRM 3.23.0 / 4.15.0, LLVM 6.0.0)", "",
       "AMD Radeon RX 580 Series"},
      {"", 0x1002, "AMD RADV POLARIS10", "", "AMD Radeon RX 580 Series"},
  };
  for (const auto& strings : rx580) {
    EXPECT_EQ(lg::originalDeviceName(strings), "AMD Radeon RX 580") << strings.deviceName;
    EXPECT_TRUE(lg::isEllesmere(strings)) << strings.deviceName;
  }
  EXPECT_EQ(lg::originalDeviceName({"NVIDIA Corporation", 0x10DE, "NVIDIA H100 80GB HBM3 (x)", "",
                                    "AMD Radeon RX 580 Series"}),
            "NVIDIA H100 80GB HBM3 (x)");
  EXPECT_EQ(lg::originalDeviceName({"AMD", 0x1002, "AMD Radeon Pro W5700", "  ", ""}),
            "AMD Radeon Pro W5700");
  EXPECT_FALSE(lg::isEllesmere({"AMD", 0x1002, "AMD Radeon RX 6600 (navi23)", "", ""}));
}

// A name that fills its field with no NUL is read to the field's end and no further.
TEST(LinuxDeviceName, AFixedFieldIsReadUpToItsNulOrItsEnd) {
  char field[8] = {'R', 'X', '5', '8', '0', 0, 'x', 'x'};
  EXPECT_EQ(lg::fieldText(field, sizeof field), "RX580");
  char full[8] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
  EXPECT_EQ(lg::fieldText(full, sizeof full), "ABCDEFGH");
}

class DrmTree : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(root / "devices"); }
  void TearDown() override { std::filesystem::remove_all(root); }

  // /sys/class/drm/cardN -> a device directory named by its PCI address.
  void addCard(const std::string& card, const std::string& address, const std::string& vendor,
               const std::string& device, const std::string& revision, const char* vram) {
    auto target = root / "devices" / address;
    std::filesystem::create_directories(target);
    std::filesystem::create_directories(root / card);
    std::filesystem::create_directory_symlink(target, root / card / "device");
    std::ofstream(target / "vendor") << vendor << "\n";
    std::ofstream(target / "device") << device << "\n";
    std::ofstream(target / "revision") << revision << "\n";
    if (vram) std::ofstream(target / "mem_info_vram_total") << vram << "\n";
  }

  std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("drm-test-" + std::to_string(getpid()));
};

TEST_F(DrmTree, CardsAreReadStrictlyAndMatchedToADevice) {
  addCard("card0", "0000:03:00.0", "0x1002", "0x67df", "0xe7", "8573157376");
  addCard("card1", "0000:04:00.0", "0x10de", "0x1b80", "0xa1", nullptr);
  addCard("card2", "0000:05:00.0", "0x1002", "junk", "0xe7", "1");  // unreadable: left out
  std::filesystem::create_directories(root / "card0-DP-1");         // a connector
  auto cards = lg::drmCards(root);
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0].pciAddress, "0000:03:00.0");
  EXPECT_EQ(cards[0].device, 0x67DFu);
  EXPECT_EQ(cards[0].revision, 0xE7u);
  EXPECT_EQ(cards[0].vramBytes, 8573157376u);
  EXPECT_FALSE(cards[1].vramBytes);

  EXPECT_EQ(lg::cardOf(cards, 0x1002, "0000:03:00.0")->pciAddress, "0000:03:00.0");
  EXPECT_FALSE(lg::cardOf(cards, 0x1002, "0000:09:00.0"));
  EXPECT_EQ(lg::cardOf(cards, 0x1002, std::nullopt)->pciAddress, "0000:03:00.0");  // the only AMD
  addCard("card3", "0000:06:00.0", "0x1002", "0x67df", "0xc7", "8589934592");
  EXPECT_FALSE(lg::cardOf(lg::drmCards(root), 0x1002, std::nullopt));  // two AMD cards: no guess
}

// amdgpu's hwmon files under the PCI device: millidegrees, read strictly; a driver's "no limit"
// figure is no limit, and nor is one at or below 0 °C.
TEST_F(DrmTree, ACardsTemperatureAndLimitComeFromItsHwmonFiles) {
  auto write = [&](const std::string& address, const char* input, const char* critical) {
    auto hwmon = root / "devices" / address / "hwmon" / "hwmon4";
    std::filesystem::create_directories(hwmon);
    if (input) std::ofstream(hwmon / "temp1_input") << input << "\n";
    if (critical) std::ofstream(hwmon / "temp1_crit") << critical << "\n";
  };
  write("0000:03:00.0", "61000", "94000");
  write("0000:04:00.0", "45500", "2147483647");
  write("0000:05:00.0", "hot", "94000");
  write("0000:06:00.0", nullptr, "94000");
  write("0000:08:00.0", "50000", "0");
  write("0000:09:00.0", "50000", "-273150");
  auto devices = root / "devices";
  auto rx580 = lg::cardTemperature("0000:03:00.0", devices);
  ASSERT_TRUE(rx580);
  EXPECT_EQ(rx580->celsius, 61.0);
  EXPECT_EQ(rx580->criticalCelsius, 94.0);
  auto unlimited = lg::cardTemperature("0000:04:00.0", devices);
  ASSERT_TRUE(unlimited);
  EXPECT_EQ(unlimited->celsius, 45.5);
  EXPECT_FALSE(unlimited->criticalCelsius);
  for (const char* implausible : {"0000:08:00.0", "0000:09:00.0"}) {
    auto frozen = lg::cardTemperature(implausible, devices);
    ASSERT_TRUE(frozen);
    EXPECT_FALSE(frozen->criticalCelsius) << "a limit at or below 0 °C would stop every load";
    EXPECT_TRUE(frozen->implausibleCritical) << "kept to be said";
  }
  EXPECT_FALSE(lg::cardTemperature("0000:05:00.0", devices)) << "not a number";
  EXPECT_FALSE(lg::cardTemperature("0000:06:00.0", devices)) << "no reading";
  EXPECT_FALSE(lg::cardTemperature("0000:07:00.0", devices)) << "no such card";
  EXPECT_FALSE(lg::cardTemperature("", devices)) << "address unknown";
  EXPECT_FALSE(lg::cardTemperature("../03:00.0", devices)) << "not an address";
}

TEST_F(DrmTree, MarketingNamesComeFromAmdgpuIds) {
  std::ofstream(root / "amdgpu.ids") << "# List of AMDGPU IDs\n1.0.0\n"
                                     << "67DF,\tC7,\tAMD Radeon RX 480 Graphics\n"
                                     << "67DF,\tE7,\tAMD Radeon RX 580 Series\n";
  EXPECT_EQ(lg::amdgpuMarketingName(0x67DF, 0xE7, root / "amdgpu.ids"), "AMD Radeon RX 580 Series");
  EXPECT_FALSE(lg::amdgpuMarketingName(0x67DF, 0xEF, root / "amdgpu.ids"));
  EXPECT_FALSE(lg::amdgpuMarketingName(0x67DF, 0xE7, root / "missing.ids"));
}

// Each stack's own words for an RX 580 8 GB, through the rules both stacks share, identify the
// card the app accepts: the card found by PCI address where the stack gives it, else as the only
// AMD card; its name from the strings or amdgpu.ids, its memory from amdgpu.
TEST_F(DrmTree, EveryStacksRx580With8GBIdentifiesAsTheAppsCard) {
  addCard("card0", "0000:03:00.0", "0x1002", "0x67df", "0xe7", "8573157376");
  std::ofstream(root / "amdgpu.ids") << "67DF,\tE7,\tAMD Radeon RX 580 Series\n";
  const std::uint64_t gtt = 8589934592ull + (4ull << 30);
  const lg::DriverReport reports[] = {
      // RADV: PCI bus info; the device-local heap is a little under the card's memory.
      {{"", 0x1002, "AMD Radeon RX 580 Series (RADV POLARIS10)", "", ""},
       "0000:03:00.0",
       8321499136,
       "Vulkan's largest device-local heap"},
      {{"", 0x1002, "AMD RADV POLARIS10", "", ""}, "0000:03:00.0", 8321499136, "Vulkan heap"},
      // Clover: no PCI address, memory the larger of GTT and VRAM.
      {{"AMD", 0x1002, "AMD Radeon RX 580 Series (polaris10, LLVM 15.0.6, DRM 3.49, 6.1.0)", "",
        ""},
       std::nullopt,
       gtt,
       "OpenCL global memory size"},
      // rusticl: cl_khr_pci_bus_info.
      {{"AMD", 0x1002, "AMD Radeon RX 580 Series (radeonsi, polaris10, LLVM 18.1.8, DRM 3.57)", "",
        ""},
       "0000:03:00.0",
       8573157376,
       "OpenCL global memory size"},
  };
  for (const auto& report : reports) {
    auto card = lg::identifyCard(report, lg::drmCards(root), root / "amdgpu.ids");
    EXPECT_EQ(identityText(card.name, card.workingSetBytes), "AMD Radeon RX 580 8 GB")
        << report.strings.deviceName;
    EXPECT_EQ(card.pciAddress, "0000:03:00.0");
    EXPECT_EQ(card.memorySource, "amdgpu mem_info_vram_total of 0000:03:00.0");
    EXPECT_TRUE(card.ellesmere);
  }
  // Without a DRM card to match, the stack's own figure stands, and says so.
  auto alone = lg::identifyCard(reports[0], {}, root / "amdgpu.ids");
  EXPECT_EQ(alone.workingSetBytes, 8321499136u);
  EXPECT_EQ(alone.memorySource, "Vulkan's largest device-local heap");
}

// A board a little short of its whole GiB identifies as what it is sold as; the identity's own
// rule (whole GiB, remainder dropped) is unchanged.
TEST(CardMemory, ABoardJustUnderEightGiBIdentifiesAsEightGB) {
  EXPECT_EQ(identityText("AMD Radeon RX 580", lg::marketedMemory(8573157376)),
            "AMD Radeon RX 580 8 GB");
  EXPECT_EQ(identityText("AMD Radeon RX 580", lg::marketedMemory(8589934592)),
            "AMD Radeon RX 580 8 GB");
  EXPECT_EQ(lg::marketedMemory(4223934464), 4294967296u);  // a 4 GB Polaris board
  EXPECT_EQ(lg::marketedMemory(8053063680), 8053063680u);  // 7.5 GiB is not 8
  EXPECT_EQ(lg::marketedMemory(9663676416), 9663676416u);  // above a whole GiB: kept
  EXPECT_EQ(lg::marketedMemory(0), 0u);
}

TEST(RowBlocks, EachSubmissionStaysUnderTheLimitAndTogetherTheyCoverEveryRow) {
  auto blocks = lg::rowBlocks(16384, 16384, 16384, lg::kDefaultMaxFlopsPerSubmission);
  ASSERT_EQ(blocks.size(), 8u);
  std::uint64_t next = 0;
  for (const auto& block : blocks) {
    EXPECT_EQ(block.first, next);
    EXPECT_LE(2 * block.count * 16384 * 16384, lg::kDefaultMaxFlopsPerSubmission);
    next += block.count;
  }
  EXPECT_EQ(next, 16384u);
  EXPECT_EQ(lg::rowBlocks(10, 4, 4, 1),
            (std::vector<lg::RowBlock>(
                {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}})));
  EXPECT_EQ(lg::rowBlocks(100, 10, 10, 2 * 10 * 10 * 30),
            (std::vector<lg::RowBlock>({{0, 30}, {30, 30}, {60, 30}, {90, 10}})));
  EXPECT_TRUE(lg::rowBlocks(0, 10, 10, 100).empty());
}

// A kernel that works 16 rows at once gets no fewer; where those are over the limit the block's
// interior is cut into even pieces that are not.
TEST(RowBlocks, AKernelsLeastRowsAndPiecesOfTheInterior) {
  EXPECT_EQ(lg::rowBlocks(40, 10, 10, 2 * 10 * 10 * 2, 16),
            (std::vector<lg::RowBlock>({{0, 16}, {16, 16}, {32, 8}})));
  EXPECT_EQ(lg::interiorPerSubmission(16, 10, 10, 2 * 16 * 10 * 10), 10u) << "within: all of it";
  EXPECT_EQ(lg::interiorPerSubmission(16, 10, 10, 2 * 16 * 10 * 4), 4u) << "10 in 3 even pieces";
  EXPECT_EQ(lg::interiorPerSubmission(16, 10, 10, 1), 1u);
  const std::uint64_t n = 16384;
  auto blocks = lg::rowBlocks(n, n, n, lg::kCpuMaxFlopsPerSubmission, 16);
  EXPECT_EQ(blocks.front(), (lg::RowBlock{0, 16}));
  EXPECT_EQ(lg::interiorPerSubmission(16, n, n, lg::kCpuMaxFlopsPerSubmission),
            lg::kCpuMaxFlopsPerSubmission / (2 * 16 * n));
}

// What drivers say while a stack looks for devices comes out once per line, counted and named,
// in its order, after the look; nothing of it is lost, not a last line without its newline.
TEST(DriverOutput, IsHeldAndSaidOncePerLine) {
  const std::string failed = "failed to open /dev/dri/renderD128: Permission denied";
  ::testing::internal::CaptureStderr();
  {
    lg::HeldDriverOutput held("the OpenCL drivers");
    for (int driver = 0; driver < 4; ++driver) std::fprintf(stderr, "%s\n", failed.c_str());
    std::fprintf(stderr, "pocl: a note\nno newline");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            failed + " (4 times, from the OpenCL drivers)\npocl: a note\nno newline\n");
  EXPECT_EQ(lg::linesCounted("", "them"), "") << "nothing said, nothing added";
}

// Modules come only from an absolute directory fixed at build time: the build's own for a
// program in the build tree, the install's beside bin/ for any other; never from a relative
// path, so never from the working directory.
TEST(GpuModules, AreLoadedOnlyFromTheBuildsOrTheInstallsOwnDirectory) {
  const lg::ModuleDirectories build{"/src/ventra/build", "/src/ventra/build/src/gpu/modules",
                                    "../lib/ventra"};
  EXPECT_EQ(lg::moduleDirectoryFor("/src/ventra/build/tools/ventractl/ventractl", build),
            "/src/ventra/build/src/gpu/modules");
  EXPECT_EQ(lg::moduleDirectoryFor("/usr/bin/ventra", build), "/usr/lib/ventra");
  EXPECT_EQ(lg::moduleDirectoryFor("/src/ventra/build2/ventra", build), "/src/ventra/lib/ventra")
      << "a sibling of the build tree is not in it";
  EXPECT_FALSE(lg::moduleDirectoryFor("bin/ventra", build)) << "relative: unknown";
  EXPECT_FALSE(lg::moduleDirectoryFor("", build));
  EXPECT_EQ(lg::parseStack("vulkan"), lg::Stack::vulkan);
  EXPECT_EQ(lg::parseStack("opencl"), lg::Stack::opencl);
  EXPECT_FALSE(lg::parseStack("Vulkan"));
}

}  // namespace
}  // namespace ventra
