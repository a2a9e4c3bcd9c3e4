// gpu tune in a build without the Linux backends: the command is there, and says why it cannot run.
#include "commands/commands.h"
#include "host/host.h"
#include "kit/context.h"
#include "line/options.h"

namespace ventra::ctl {

// gpu tune tunes the Vulkan stack's shader, which this build leaves out.
CommandDefinition gpuTuneCommand() {
  return {"tune",
          "choose the product shader's tile for this device by trying each on it (Vulkan)",
          {},
          {{option::json, "print what the tuner found; this build has no Vulkan stack to tune"},
           option::allowCpu,
           option::gpu,
           {option::size,
            "the matrix dimension each tile is timed at (default: one whose product takes about "
            "half a second)"},
           option::forget,
           option::tiles},
          {},
          [](Context&, const Arguments&) -> int { throw CommandError(*hostUnavailable()); }};
}

}  // namespace ventra::ctl
