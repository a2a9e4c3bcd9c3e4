#include "gpu/platform/opencl/cl_handles.h"

namespace ventra::gpu::opencl {

std::string clStatusText(cl_int status) {
  const char* name = nullptr;
  switch (status) {
    case CL_SUCCESS:
      name = "CL_SUCCESS";
      break;
    case CL_DEVICE_NOT_FOUND:
      name = "CL_DEVICE_NOT_FOUND";
      break;
    case CL_DEVICE_NOT_AVAILABLE:
      name = "CL_DEVICE_NOT_AVAILABLE";
      break;
    case CL_MEM_OBJECT_ALLOCATION_FAILURE:
      name = "CL_MEM_OBJECT_ALLOCATION_FAILURE";
      break;
    case CL_OUT_OF_RESOURCES:
      name = "CL_OUT_OF_RESOURCES";
      break;
    case CL_OUT_OF_HOST_MEMORY:
      name = "CL_OUT_OF_HOST_MEMORY";
      break;
    case CL_BUILD_PROGRAM_FAILURE:
      name = "CL_BUILD_PROGRAM_FAILURE";
      break;
    case CL_INVALID_VALUE:
      name = "CL_INVALID_VALUE";
      break;
    case CL_INVALID_DEVICE:
      name = "CL_INVALID_DEVICE";
      break;
    case CL_INVALID_CONTEXT:
      name = "CL_INVALID_CONTEXT";
      break;
    case CL_INVALID_COMMAND_QUEUE:
      name = "CL_INVALID_COMMAND_QUEUE";
      break;
    case CL_INVALID_MEM_OBJECT:
      name = "CL_INVALID_MEM_OBJECT";
      break;
    case CL_INVALID_BUFFER_SIZE:
      name = "CL_INVALID_BUFFER_SIZE";
      break;
    case CL_INVALID_OPERATION:
      name = "CL_INVALID_OPERATION";
      break;
    case CL_INVALID_WORK_GROUP_SIZE:
      name = "CL_INVALID_WORK_GROUP_SIZE";
      break;
    case CL_INVALID_KERNEL_ARGS:
      name = "CL_INVALID_KERNEL_ARGS";
      break;
    default:
      break;
  }
  const std::string code = std::to_string(status);
  std::string number = "(" + code + ")";
  return name ? std::string(name) + " " + number : "OpenCL status " + number;
}

}  // namespace ventra::gpu::opencl
