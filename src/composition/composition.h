#pragma once

// A process's backends: the SMC service, the GPU platform and the desktop. An entry point (or a
// test) chooses one of the builders below or beside this file, and one guard installs the three
// together; nothing else decides which backend runs. An empty member means the process has none
// of it: no "AppleSMC" service, no GPU devices, no desktop.

#include <memory>

#include "app/platform/desktop.h"
#include "gpu/platform/metal.h"
#include "smc/platform/service.h"

namespace ventra {

struct Composition {
  std::shared_ptr<smc::platform::Service> smc;
  std::shared_ptr<gpu::platform::GPUPlatform> gpu;
  std::shared_ptr<app::platform::Desktop> desktop;

  // A process with one of the three and none of the others.
  static Composition ofSmc(std::shared_ptr<smc::platform::Service> service) {
    return {std::move(service), nullptr, nullptr};
  }
  static Composition ofGpu(std::shared_ptr<gpu::platform::GPUPlatform> platform) {
    return {nullptr, std::move(platform), nullptr};
  }
  static Composition ofDesktop(std::shared_ptr<app::platform::Desktop> platform) {
    return {nullptr, nullptr, std::move(platform)};
  }
};

// What is installed now.
Composition installedComposition();

// Installs a composition for the guard's lifetime and puts back what was there before.
class ScopedComposition {
 public:
  explicit ScopedComposition(Composition composition);
  ~ScopedComposition();
  ScopedComposition(const ScopedComposition&) = delete;
  ScopedComposition& operator=(const ScopedComposition&) = delete;

 private:
  Composition previous_;
};

}  // namespace ventra
