// The last steps of a process that is ended by exit() from code other than
// the shell's own shut-down: Qt's X connection calls exit(1) when the X
// server goes away (a crashed server, a logout without a session manager), as
// Xlib's default I/O error handling does for any connection that keeps it.
// Armed while the program runs, the steps (save the settings, finish the open
// clip) then run from an exit handler, once.
//
// The steps must touch neither the toolkit nor X: by then the connection is
// gone and the toolkit may be half torn down. The shell disarms the hook
// before the normal shut-down returns, so it never runs on the normal path;
// the exit status is whatever the caller of exit() gave.
#pragma once

#include <functional>

namespace framory {

class EmergencyExit {
 public:
  // Sets the steps and, the first time, registers the exit handler.
  static void Arm(std::function<void()> steps);
  // The steps will not run (the normal shut-down has done their work).
  static void Disarm();
  static bool Armed();
  // What the exit handler does: runs the steps if armed, disarming first,
  // so that they run once however often this is reached. True when they ran.
  static bool RunOnce();
};

}  // namespace framory
