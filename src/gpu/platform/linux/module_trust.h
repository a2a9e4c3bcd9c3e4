#pragma once

// A GPU module runs with the whole power of the program that loads it, root's included. It is
// loaded only where nobody but root or the caller could have put it: the file and every
// directory above it belong to root or the caller, and no one else may write to them, as ssh and
// sudo require of their files. A directory others may write to counts only where its sticky bit
// keeps them from replacing what they do not own (/tmp): the next step down is checked as well.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace ventra::gpu::linux_gpu {

// Why `file` may not be loaded by `caller` (a user id), in words; nothing where it may.
std::optional<std::string> whyNotTrusted(const std::filesystem::path& file, uid_t caller);

}  // namespace ventra::gpu::linux_gpu
