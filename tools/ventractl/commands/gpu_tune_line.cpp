// gpu tune's line, the same in every build. What runs it is the build's own: gpu_tune.cpp where
// the build has the Vulkan stack, gpu_tune_unavailable.cpp where it has not.
#include "commands/commands.h"
#include "line/options.h"

namespace ventra::ctl {

CommandDefinition gpuTuneCommand() {
  return {
      "tune",
      "choose the product shader's tile for this device by trying each on it (Vulkan)",
      {},
      {{option::json,
        R"(print {device, driver, n, trials: [{tile, operationsPerByte, gflops, problem}], best, kept, before, stored, setAside (where a file that was no store went)}; with --forget {device, driver, forgotten, stored})"},
       option::allowCpu,
       option::gpu,
       {option::size,
        "the matrix dimension each tile is timed at (default: one whose product takes about half a "
        "second)"},
       option::forget,
       option::tiles},
      {},
      runGpuTune};
}

}  // namespace ventra::ctl
