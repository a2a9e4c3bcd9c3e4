// ventra: the app, on the Linux desktop with the host's SMC and OpenCL GPUs.
#include "app/app_delegate.h"
#include "composition/linux_host.h"

int main(int argc, char** argv) {
  ventra::ScopedComposition host(ventra::linuxHost());
  return ventra::app::applicationMain(argc, argv);
}
