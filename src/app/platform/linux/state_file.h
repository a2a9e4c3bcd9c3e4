#pragma once

// A small file of our own that must never become a way to harm the user: no link is followed,
// nothing but a regular file is read (a FIFO would hang us), reads are bounded, and writes
// replace the file atomically (a temporary file renamed over it).

#include <filesystem>
#include <optional>
#include <string>

namespace ventra::app::linux_desktop {

// The file's text, at most `limit` bytes of it; nothing when absent, not a regular file, or a
// link where `followLinks` is false. `problem` says why a file present was refused.
std::optional<std::string> readSmallFile(const std::filesystem::path& file, std::size_t limit,
                                         bool followLinks, std::string& problem);

// Replaces the file with `text` (creating its directory, mode 0700); false on failure.
bool replaceFile(const std::filesystem::path& file, const std::string& text);

}  // namespace ventra::app::linux_desktop
