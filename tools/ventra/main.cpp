// ventra: the app, on the Linux desktop with the host's SMC and GPUs. --help and --version answer
// a person at a terminal without starting anything; with any other arguments (none, the
// autostart entry's login-item marker, or anything else, handed on unchanged) it runs silently.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "app/app_delegate.h"
#include "app/platform/linux/linux_desktop.h"
#include "composition/linux_host.h"

int main(int argc, char** argv) {
  CLI::App line(
      "Offers, through a desktop notification, to reset the fans of a Mac Pro (MacPro5,1) with "
      "an AMD Radeon RX 580 8 GB when fan 0 turns faster than 1000 rpm, and quits. On any other "
      "host, card or fan speed it quits without a word: 'ventractl check' shows why.",
      "ventra");
  const std::string marker = ventra::app::linux_desktop::kLoginItemArgument;
  const std::string about =
      "marks a start by the autostart entry, which waits DelayAtLogin seconds";
  line.add_flag(marker, about);
  line.set_version_flag("--version", "ventra " VENTRA_VERSION);
  line.footer("See ventra(1) and ventractl(1).");
  line.allow_extras();  // the app takes its arguments as they come
  try {
    line.parse(argc, argv);
  } catch (const CLI::Success& answered) {  // --help, --version
    const int status = line.exit(answered);
    // An answer nobody could read (a full disk, a closed output) is no success.
    if (std::cout.flush()) return status;
    std::cerr << "ventra: cannot write the answer: " << std::strerror(errno) << "\n";
    return 1;
  } catch (const CLI::ParseError&) {
    // Nothing the app takes can be malformed; whatever it was is the app's to ignore.
  }
  ventra::ScopedComposition host(ventra::linuxHost());
  return ventra::app::applicationMain(argc, argv);
}
