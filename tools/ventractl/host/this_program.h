#pragma once

// Where this ventractl lies, which decides where its data, its app and its build tree are.

#include <filesystem>
#include <optional>

namespace ventra::ctl {

// This program's own path (/proc/self/exe); nothing where it cannot be read.
std::optional<std::filesystem::path> thisProgram();

// Whether `directory` is the build folder this ventractl was built in: only a program still
// there may use the checkout and its build tree's other programs.
bool isTheBuildFolder(const std::filesystem::path& directory);

}  // namespace ventra::ctl
