#pragma once

// Writes a desktop's platform calls into a trace under the simulator's event names, so that a
// run on a real desktop reads like a simulated one.

#include <memory>

#include "app/platform/desktop.h"
#include "sim/trace.h"

namespace ventra::ctl {

std::shared_ptr<app::platform::DesktopPlatform> tracingDesktop(
    std::shared_ptr<app::platform::DesktopPlatform> inner, sim::Trace& trace);

}  // namespace ventra::ctl
