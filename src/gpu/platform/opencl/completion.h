#pragma once

// When an enqueued command has finished, told by the driver's callback, so that a wait can have a
// time limit: OpenCL's own wait for an event has none.

#include <CL/cl.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "gpu/platform/opencl/cl_handles.h"

namespace ventra::gpu::opencl {

class Completion {
 public:
  // Takes the event over. Where the driver takes no callback, a wait blocks until it is done.
  explicit Completion(cl_event event);
  Completion(const Completion&) = delete;
  Completion& operator=(const Completion&) = delete;
  // True once the command is done, within `seconds`.
  bool waitFor(double seconds);
  // After a wait that returned true: CL_COMPLETE, or the negative status the command ended with.
  cl_int status() const;

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    cl_int status = CL_COMPLETE;
  };
  static void CL_CALLBACK onComplete(cl_event, cl_int status, void* state);

  EventHandle event_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
  bool told_ = false;  // the driver took the callback
};

}  // namespace ventra::gpu::opencl
