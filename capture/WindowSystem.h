// What the capture engine asks of the window system. The X11 implementation
// lives in platform/x11; tests use fakes.
#pragma once

#include <cstdint>

#include "base/Geometry.h"

namespace framory {

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // The window that stands for the whole screen (the root window).
  virtual WindowHandle DesktopWindow() = 0;
  // The window the user works in now, kNoWindow when there is none.
  virtual WindowHandle ForegroundWindow() = 0;
  // The top of the owner chain of `window` (the window itself when it has no
  // owner), kNoWindow when it cannot be found.
  virtual WindowHandle RootOwner(WindowHandle window) = 0;
  virtual bool IsWindowVisible(WindowHandle window) = 0;
  // Whether `window` still exists.
  virtual bool IsWindow(WindowHandle window) = 0;
  // Outer frame, decorations included, in screen coordinates (right and bottom
  // exclusive) and the client area as (0, 0, width, height). False when the
  // window cannot be examined (for example it vanished).
  virtual bool GetWindowInfo(WindowHandle window, Rect* windowRect, Rect* clientRect) = 0;
  // The client area's top-left corner in screen coordinates.
  virtual bool ClientOrigin(WindowHandle window, Point* origin) = 0;
  // Resizes `window` in place so that its outer frame becomes width × height.
  virtual bool SetOuterSize(WindowHandle window, std::int32_t width, std::int32_t height) = 0;
  // Pointer position on the screen.
  virtual Point CursorPos() = 0;
  virtual void SetCursorPos(Point position) = 0;
  // Size of the primary screen.
  virtual std::int32_t ScreenWidth() = 0;
  virtual std::int32_t ScreenHeight() = 0;
};

}  // namespace framory
