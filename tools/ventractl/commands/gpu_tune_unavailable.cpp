// gpu tune in a build without the Linux backends: the command is there, and says why it cannot run.
#include "commands/commands.h"
#include "host/host.h"
#include "kit/context.h"

namespace ventra::ctl {

int runGpuTune(Context&, const Arguments&) {
  throw CommandError(*hostUnavailable());
}

}  // namespace ventra::ctl
