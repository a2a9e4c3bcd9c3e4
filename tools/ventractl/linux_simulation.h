#pragma once

// `simulate --desktop linux`: the app on the real Linux desktop backend (GLib main loop,
// wall-clock timers, notifications on the session bus) with the scenario's host: its model,
// modifier keys, launch kind, stored default, SMC and GPUs. The answer comes from whoever is at
// the screen, or a test driving the notification server.

#include <ostream>

#include "app/platform/sim/scenario.h"
#include "app/platform/sim/trace.h"

namespace ventra::ctl {

// The app's exit status; `trace` holds every platform call with its time since launch.
int runOnLinuxDesktop(const app::sim::Scenario& scenario, app::sim::Trace& trace,
                      std::ostream& notes);

}  // namespace ventra::ctl
