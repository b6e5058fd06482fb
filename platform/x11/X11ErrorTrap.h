// Turns X protocol errors into results instead of process exits.
//
// Xlib's default error handler prints the error and exits; its IO error
// handler exits when the connection breaks. X11ErrorTrap::InstallHandlers()
// replaces both, once for the whole process:
//  - the error handler records every error (code, request, serial) per
//    Display and returns, so a window that vanishes between two calls only
//    makes those calls fail;
//  - the IO error handler marks the Display dead and returns; with
//    WatchConnection() (XSetIOErrorExitHandler, libX11 1.7+) Xlib does not
//    exit afterwards either. Later calls on a dead Display fail at once and
//    every trap on it reports failure.
//
// Usage, on a Display passed to WatchConnection() after XOpenDisplay:
//
//   X11ErrorTrap trap(display);
//   XGetWindowAttributes(display, window, &attributes);
//   if (trap.Failed()) return false;   // XSyncs, then looks for errors
//
// A trap sees only errors of requests sent after it was constructed (it
// compares serial numbers), so traps may nest and stale errors do not leak in.
// Call ForgetConnection() right after XCloseDisplay (X11Connection does both).
#pragma once

#include <X11/Xlib.h>

namespace framory {

class X11ErrorTrap {
 public:
  explicit X11ErrorTrap(Display* display);
  X11ErrorTrap(const X11ErrorTrap&) = delete;
  X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

  // Waits until the server has answered every request sent so far (XSync,
  // skipped when the last request already got its reply), then tells
  // whether one sent since the trap's construction failed or the connection
  // died.
  bool Failed();
  // The failure found by the last Failed(): the X error code (BadWindow, ...)
  // and the major request code; 0 when there was none. A dead connection
  // gives ErrorCode() == -1.
  int ErrorCode() const { return errorCode_; }
  int RequestCode() const { return requestCode_; }

  // Installs the process-wide error and IO error handlers (idempotent,
  // thread-safe). The constructor and WatchConnection() call it.
  static void InstallHandlers();
  // Keeps Xlib from exiting the process when `display`'s connection breaks.
  static void WatchConnection(Display* display);
  // Drops what is recorded for `display`; call once it is closed, before the
  // pointer can be reused by another XOpenDisplay.
  static void ForgetConnection(Display* display);
  static bool ConnectionDead(Display* display);

 private:
  Display* display_;
  unsigned long startSerial_;
  unsigned long startSequence_;
  int errorCode_ = 0;
  int requestCode_ = 0;
};

}  // namespace framory
