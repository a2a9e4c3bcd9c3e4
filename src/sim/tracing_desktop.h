#pragma once

// Writes a desktop's platform calls into a trace: the one recorder for the virtual-clock desktop
// and for a real one, so a run on the real desktop reads like a simulated one.

#include <memory>

#include "app/platform/desktop.h"
#include "sim/trace.h"

namespace ventra::sim {

std::shared_ptr<app::platform::DesktopPlatform> tracingDesktop(
    std::shared_ptr<app::platform::DesktopPlatform> inner, sim::Trace& trace);

}  // namespace ventra::sim
