#pragma once

// The command to run again as root. sudo looks programs up in its own secure_path, not in the
// user's PATH: a ventractl installed in ~/.local/bin is "command not found" under a bare
// `sudo ventractl`, so the hint names it by its full path there.

#include <filesystem>
#include <string>
#include <vector>

namespace ventra::ctl {

// Debian's default secure_path, which sudo searches.
inline const std::vector<std::filesystem::path> kSudoSecurePath = {
    "/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin"};

// "sudo ventractl ARGS..." when `executable` lies in the secure path, else "sudo EXECUTABLE
// ARGS...", each word quoted for a POSIX shell where it needs it.
std::string sudoLine(const std::filesystem::path& executable,
                     const std::vector<std::string>& arguments);

// The same for this process, from /proc/self/exe and /proc/self/cmdline; "sudo ventractl" with
// no arguments where those cannot be read.
std::string sudoLineForThisProcess();

}  // namespace ventra::ctl
