#pragma once

// What a program acts on with its whole power (a module it loads, a stored choice that decides
// how hard it drives a card) is taken only from where nobody but root or the caller could have
// put it: the file and every directory above it belong to root or the caller, and no one else
// may write to them, as ssh and sudo require of their files. A directory others may write to
// counts only where its sticky bit keeps them from replacing what they do not own (/tmp): the
// next step down is checked as well.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace ventra::files {

// Why `path` may not be trusted by `caller` (a user id), in words; nothing where it may. A path
// that is not there is not trusted.
std::optional<std::string> whyNotTrusted(const std::filesystem::path& path, uid_t caller);

// The same of the deepest part of `path` that is there: whether `caller` may trust a file
// written there (a cache directory made on first use).
std::optional<std::string> whyNotTrustedToWrite(const std::filesystem::path& path, uid_t caller);

}  // namespace ventra::files
