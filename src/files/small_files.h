#pragma once

// A small file of our own that must never become a way to harm the user: no link is followed,
// nothing but a regular file is read (a FIFO would hang us), reads are bounded, and writes
// replace the file atomically (a temporary file renamed over it).

#include <filesystem>
#include <optional>
#include <string>

namespace ventra::files {

// The file's text; nothing when absent, not a regular file, a link where `followLinks` is false,
// or longer than `limit` bytes (never a part of it). `problem` says why a file present was
// refused.
std::optional<std::string> readSmallFile(const std::filesystem::path& file, std::size_t limit,
                                         bool followLinks, std::string& problem);

// $XDG_CONFIG_HOME, else $HOME/.config. A relative value is ignored, as the XDG base directory
// rules say; empty where neither gives an absolute path.
std::filesystem::path userConfigDirectory();
// $XDG_CACHE_HOME, else $HOME/.cache; relative values ignored, empty where neither is absolute.
std::filesystem::path userCacheDirectory();
// $XDG_RUNTIME_DIR where it is absolute; empty otherwise.
std::filesystem::path userRuntimeDirectory();

// Replaces the file with `text` through a temporary file in the same directory and a rename,
// so that a failure (a full disk, say) leaves the old file as it was. Creates the directory,
// mode 0700, where it is missing. 0, or the errno of the step that failed.
int replaceFile(const std::filesystem::path& file, const std::string& text);

}  // namespace ventra::files
