#include "app/EmergencyExit.h"

#include <atomic>
#include <cstdlib>

namespace framory {

namespace {

// Plain pointers, not objects with destructors: the exit handler may run
// after the static objects of this file would have been destroyed.
std::function<void()>* g_steps = nullptr;
std::atomic<bool> g_armed{false};
std::atomic<bool> g_registered{false};

void OnExit() { EmergencyExit::RunOnce(); }

}  // namespace

void EmergencyExit::Arm(std::function<void()> steps) {
  g_armed.store(false);
  delete g_steps;
  g_steps = new std::function<void()>(std::move(steps));
  if (!g_registered.exchange(true)) std::atexit(OnExit);
  g_armed.store(true);
}

void EmergencyExit::Disarm() { g_armed.store(false); }

bool EmergencyExit::Armed() { return g_armed.load(); }

bool EmergencyExit::RunOnce() {
  if (!g_armed.exchange(false) || g_steps == nullptr || !*g_steps) return false;
  (*g_steps)();
  return true;
}

}  // namespace framory
