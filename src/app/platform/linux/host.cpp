// Host facts for the Linux desktop: the model from DMI and the modifier keys from X11.
#include <X11/Xlib.h>

#include <condition_variable>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/platform/linux/linux_desktop.h"

namespace ventra::app::linux_desktop {

std::uint64_t modifierFlagsFromX11(unsigned int mask) {
  std::uint64_t flags = 0;
  if (mask & LockMask) flags |= 0x00010000;     // Caps Lock
  if (mask & ShiftMask) flags |= 0x00020000;    // Shift
  if (mask & ControlMask) flags |= 0x00040000;  // Control
  if (mask & Mod1Mask) flags |= 0x00080000;     // Alt, the Option key
  if (mask & Mod5Mask) flags |= 0x00080000;     // AltGr (ISO_Level3_Shift), Option too
  if (mask & Mod4Mask) flags |= 0x00100000;     // Super, where Apple's Command key arrives
  return flags;  // Num Lock (Mod2) is a lock state: no device-independent flag means one
}

namespace {

// Without a display (a console login, Wayland without XWayland) no modifier is held.
std::uint64_t askTheDisplay() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 0;
  Window root = DefaultRootWindow(display), rootReturn = 0, childReturn = 0;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned int mask = 0;
  bool ok =
      XQueryPointer(display, root, &rootReturn, &childReturn, &rootX, &rootY, &winX, &winY, &mask);
  XCloseDisplay(display);
  return ok ? modifierFlagsFromX11(mask) : 0;
}

}  // namespace

namespace {

// The questions still on their threads. Never destroyed: a thread left behind may end after
// main has returned.
struct Outstanding {
  std::mutex mutex;
  std::condition_variable done;
  int running = 0;
};

Outstanding& outstanding() {
  static auto* state = new Outstanding;
  return *state;
}

}  // namespace

// Xlib waits as long as the server takes; one that accepts and never answers would hang the
// launch. The question runs on its own thread and counts as "no modifiers" past the limit; a
// thread still stuck then is left behind (see waitForModifierQueries).
std::uint64_t queryModifierFlags(std::chrono::milliseconds limit) {
  auto answer = std::make_shared<std::promise<std::uint64_t>>();
  auto future = answer->get_future();
  {
    std::lock_guard lock(outstanding().mutex);
    ++outstanding().running;
  }
  std::thread([answer] {
    answer->set_value(askTheDisplay());
    std::lock_guard lock(outstanding().mutex);
    --outstanding().running;
    outstanding().done.notify_all();
  }).detach();
  if (future.wait_for(limit) != std::future_status::ready) return 0;
  return future.get();
}

bool waitForModifierQueries(std::chrono::milliseconds limit) {
  std::unique_lock lock(outstanding().mutex);
  return outstanding().done.wait_for(lock, limit, [] { return outstanding().running == 0; });
}

std::optional<std::string> readProductName(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  std::string model = text.str();
  if (!model.empty() && model.back() == '\n') model.pop_back();
  return model;
}

}  // namespace ventra::app::linux_desktop
