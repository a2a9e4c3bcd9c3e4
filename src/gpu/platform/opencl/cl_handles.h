#pragma once

// OpenCL objects owned by exactly one C++ object each: move-only handles that release what they
// hold, and the one function that turns an OpenCL status into text.

#include <CL/cl.h>

#include <string>
#include <utility>

namespace ventra::gpu::opencl {

template <typename T, cl_int (*Release)(T)>
class ClHandle {
 public:
  ClHandle() = default;
  explicit ClHandle(T handle) : handle_(handle) {}
  ~ClHandle() {
    if (handle_) Release(handle_);
  }
  ClHandle(ClHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ClHandle& operator=(ClHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ClHandle(const ClHandle&) = delete;
  ClHandle& operator=(const ClHandle&) = delete;

  T get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  T handle_ = nullptr;
};

using ContextHandle = ClHandle<cl_context, clReleaseContext>;
using QueueHandle = ClHandle<cl_command_queue, clReleaseCommandQueue>;
using MemoryHandle = ClHandle<cl_mem, clReleaseMemObject>;
using EventHandle = ClHandle<cl_event, clReleaseEvent>;

// "CL_OUT_OF_RESOURCES (-5)"; the number alone for codes without a name here.
std::string clStatusText(cl_int status);

}  // namespace ventra::gpu::opencl
