// ventra: the app, on the Linux desktop with the host's SMC and OpenCL GPUs.
#include "app/app_delegate.h"
#include "app/platform/linux/linux_desktop.h"
#include "gpu/platform/opencl/opencl_gpu.h"
#include "smc/platform/linux/applesmc.h"

int main(int argc, char** argv) {
  using namespace ventra;
  smc::linux_backend::registerHostService();
  gpu::platform::installGPUPlatform(gpu::opencl::openclPlatform());
  app::platform::installDesktopPlatform(app::linux_desktop::makeLinuxDesktop());
  return app::applicationMain(argc, argv);
}
