#include "composition/composition.h"

namespace ventra {
namespace {

void install(Composition composition) {
  smc::platform::installAppleSMCService(std::move(composition.smc));
  gpu::platform::installGPUPlatform(std::move(composition.gpu));
  app::platform::installDesktop(std::move(composition.desktop));
}

}  // namespace

Composition installedComposition() {
  return {smc::platform::installedAppleSMCService(), gpu::platform::installedGPUPlatform(),
          app::platform::installedDesktop()};
}

ScopedComposition::ScopedComposition(Composition composition) : previous_(installedComposition()) {
  install(std::move(composition));
}

ScopedComposition::~ScopedComposition() {
  install(std::move(previous_));
}

}  // namespace ventra
