#pragma once

// What drivers write to standard error while a stack looks for devices, held and said once per
// distinct line with a count and whose words they are. OpenCL's Mesa drivers each try every
// render node and each say so: a user outside the render group saw "failed to open
// /dev/dri/renderD128: Permission denied" four times before anything of the program's own.
// Nothing is lost: every line comes out, in its order, when the hold ends.

#include <string>

namespace ventra::gpu::linux_gpu {

class HeldDriverOutput {
 public:
  // `speakers` names them in the count: "the OpenCL drivers".
  explicit HeldDriverOutput(std::string speakers);
  ~HeldDriverOutput();
  HeldDriverOutput(const HeldDriverOutput&) = delete;
  HeldDriverOutput& operator=(const HeldDriverOutput&) = delete;

 private:
  std::string speakers_;
  int saved_ = -1;  // standard error as it was; -1 where nothing is held
  int held_ = -1;   // a memory file the drivers write to meanwhile
};

// Each distinct line once, in the order first said, with how often where more than once.
std::string linesCounted(const std::string& text, const std::string& speakers);

}  // namespace ventra::gpu::linux_gpu
