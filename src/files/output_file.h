#pragma once

// Where a user told a command to write its output (dump -o FILE), written the way careful tools
// write it, whoever runs it, root included:
// - a terminal, a FIFO, a device, or a pipe behind /dev/stdout: written through, as a stream;
// - a regular file: replaced whole (a new file beside it, renamed over it, so a failure leaves
//   the old one as it was), keeping its owner and mode; a new file gets the usual mode (0666
//   less the umask);
// - a symbolic link to a regular file or to nothing, a directory, a path whose directory does not
//   exist: refused. Nothing is made but the file itself.

#include <filesystem>
#include <optional>
#include <string>

namespace ventra::files {

// Nothing once written; otherwise why not, naming the path.
std::optional<std::string> writeOutputFile(const std::filesystem::path& path,
                                           const std::string& text);

}  // namespace ventra::files
