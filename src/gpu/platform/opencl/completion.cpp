#include "gpu/platform/opencl/completion.h"

#include <algorithm>
#include <chrono>

namespace ventra::gpu::opencl {

Completion::Completion(cl_event event) : event_(event) {
  // The callback owns a reference to the state: it may run after this object is gone.
  auto* reference = new std::shared_ptr<State>(state_);
  told_ = clSetEventCallback(event_.get(), CL_COMPLETE, &Completion::onComplete, reference) ==
          CL_SUCCESS;
  if (!told_) delete reference;
}

void CL_CALLBACK Completion::onComplete(cl_event, cl_int status, void* state) {
  auto* reference = static_cast<std::shared_ptr<State>*>(state);
  {
    std::lock_guard lock((*reference)->mutex);
    (*reference)->done = true;
    (*reference)->status = status;
  }
  (*reference)->finished.notify_all();
  delete reference;
}

bool Completion::waitFor(double seconds) {
  if (!told_) {
    cl_event event = event_.get();
    cl_int status = clWaitForEvents(1, &event);
    std::lock_guard lock(state_->mutex);
    state_->done = true;
    state_->status = status == CL_SUCCESS ? CL_COMPLETE : status;
    return true;
  }
  constexpr double kLongest = 1e9;  // a wait this long has no limit; longer would overflow
  std::unique_lock lock(state_->mutex);
  return state_->finished.wait_for(
      lock, std::chrono::duration<double>(std::clamp(seconds, 0.0, kLongest)),
      [this] { return state_->done; });
}

cl_int Completion::status() const {
  std::lock_guard lock(state_->mutex);
  return state_->status;
}

}  // namespace ventra::gpu::opencl
