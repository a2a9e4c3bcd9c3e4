#include "host/gpu_access.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <vector>

namespace ventra::ctl {
namespace fs = std::filesystem;
namespace {

struct DisplayCard {
  std::string address;  // "0000:03:00.0"
  std::string id;       // "1002:67df"
  std::string driver;   // "amdgpu", "vfio-pci"; empty where none is bound
};

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string withoutHexPrefix(std::string text) {
  return text.starts_with("0x") ? text.substr(2) : text;
}

// PCI class 0x03: display controllers (VGA, 3D, other).
std::vector<DisplayCard> displayCards(const fs::path& sys) {
  std::vector<DisplayCard> cards;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(sys / "bus/pci/devices", error)) {
    if (!firstLine(entry.path() / "class").starts_with("0x03")) continue;
    std::error_code noDriver;
    auto driver = fs::read_symlink(entry.path() / "driver", noDriver);
    cards.push_back({entry.path().filename().string(),
                     withoutHexPrefix(firstLine(entry.path() / "vendor")) + ":" +
                         withoutHexPrefix(firstLine(entry.path() / "device")),
                     noDriver ? "" : driver.filename().string()});
  }
  return cards;
}

std::vector<fs::path> renderNodes(const fs::path& dev) {
  std::vector<fs::path> nodes;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dev / "dri", error))
    if (entry.path().filename().string().starts_with("renderD")) nodes.push_back(entry.path());
  return nodes;
}

// The node's group by name ("render"); its number where it has no name.
std::string groupName(const fs::path& node) {
  struct stat status {};
  if (::stat(node.c_str(), &status) != 0) return "render";
  const group* found = ::getgrgid(status.st_gid);
  return found ? found->gr_name : std::to_string(status.st_gid);
}

std::string groupOf(const fs::path& node) {
  return "the " + groupName(node) + " group";
}

bool accessible(const fs::path& node) {
  return ::access(node.c_str(), R_OK | W_OK) == 0;
}

std::optional<std::string> cardProblem(const DisplayCard& card) {
  const std::string named = "the graphics card at " + card.address + " (" + card.id + ")";
  if (card.driver == "vfio-pci" || card.driver == "pci-stub")
    return named + " is bound to " + card.driver +
           ": it is passed through to a virtual machine, and this host cannot use it. Run the "
           "reset where the card is, or give the card back to amdgpu";
  if (card.driver.empty())
    return named +
           " has no driver bound: load amdgpu ('sudo modprobe amdgpu'), and see "
           "'sudo dmesg' for why it did not bind";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> gpuAccessProblem(const GpuAccessRoots& roots) {
  const auto cards = displayCards(roots.sys);
  for (const auto& card : cards)
    if (auto problem = cardProblem(card)) return problem;
  const auto canOpen = roots.canOpen ? roots.canOpen : accessible;
  const auto nodes = renderNodes(roots.dev);
  for (const auto& node : nodes)
    if (canOpen(node)) return std::nullopt;
  if (!nodes.empty())
    return nodes.front().string() + " is there, but this user may not open it: add the user to " +
           groupOf(nodes.front()) + " ('sudo usermod -aG " + groupName(nodes.front()) +
           " $USER', then log in again), or run it from a desktop session at the machine "
           "itself (its login gives that session the GPU)";
  if (!cards.empty())
    return "no GPU render node in " + (roots.dev / "dri").string() + ": the card's driver (" +
           cards.front().driver + ") made none; see 'sudo dmesg'";
  return std::nullopt;
}

}  // namespace ventra::ctl
