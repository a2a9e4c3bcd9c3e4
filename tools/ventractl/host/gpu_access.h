#pragma once

// Why a user gets no GPU device although a card may well be there: the card is held by another
// driver (vfio-pci: passed through to a virtual machine), it has no driver at all, or its render
// node is one this user may not open (not in its group, or not at the seat). Read from sysfs and
// /dev, whose roots a test can move.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace ventra::ctl {

struct GpuAccessRoots {
  std::filesystem::path sys = "/sys";
  std::filesystem::path dev = "/dev";
  // Whether this user may open the node for reading and writing.
  std::function<bool(const std::filesystem::path&)> canOpen;
};

// The first such cause found, in words with what to do; nothing where none is found.
std::optional<std::string> gpuAccessProblem(const GpuAccessRoots& roots = {});

}  // namespace ventra::ctl
