#pragma once

// Writes what the app asks of its desktop into a trace: the one recorder for the virtual-clock
// desktop and for a real one, so a run on the real desktop reads like a simulated one.

#include <memory>

#include "app/platform/desktop.h"
#include "sim/trace.h"

namespace ventra::sim {

std::shared_ptr<app::platform::DesktopObserver> desktopTracer(Trace& trace);

// The process's desktop over a backend, traced: what a simulated host installs.
std::shared_ptr<app::platform::Desktop> tracedDesktop(
    std::shared_ptr<app::platform::DesktopBackend> backend, Trace& trace);

}  // namespace ventra::sim
