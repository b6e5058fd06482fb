// The window system over Xlib: the root window as the desktop, EWMH for the
// active window and frame extents, WM_TRANSIENT_FOR for owners, RandR for the
// primary screen's size. Uses a connection of its own; every request that
// names a window another client owns runs inside an X11ErrorTrap, so a window
// that vanishes between two calls only makes the later call fail.
#pragma once

#include <X11/Xlib.h>

#include <string>

#include "capture/WindowSystem.h"
#include "platform/x11/X11Connection.h"

namespace framory {

class X11WindowSystem : public WindowSystem {
 public:
  // Opens `displayName` ($DISPLAY when empty); check Valid().
  explicit X11WindowSystem(const std::string& displayName = {});

  bool Valid() const { return connection_.Valid(); }

  WindowHandle DesktopWindow() override;
  WindowHandle ForegroundWindow() override;
  WindowHandle RootOwner(WindowHandle window) override;
  bool IsWindowVisible(WindowHandle window) override;
  bool IsWindow(WindowHandle window) override;
  bool GetWindowInfo(WindowHandle window, Rect* windowRect, Rect* clientRect) override;
  bool ClientOrigin(WindowHandle window, Point* origin) override;
  bool SetOuterSize(WindowHandle window, std::int32_t width, std::int32_t height) override;
  Point CursorPos() override;
  void SetCursorPos(Point position) override;
  std::int32_t ScreenWidth() override;
  std::int32_t ScreenHeight() override;

 private:
  struct Extents {
    long left = 0, right = 0, top = 0, bottom = 0;
  };
  // XGetWindowAttributes of `window`; false when it cannot be examined.
  bool ReadAttributes(WindowHandle window, XWindowAttributes* attributes);
  // The window manager's _NET_FRAME_EXTENTS of `window`, false when unset.
  bool FrameExtents(Window window, Extents* extents);
  // The parent and root of `window`; false when it cannot be examined.
  bool QueryParent(Window window, Window* root, Window* parent);
  // The ancestor of `window` that is a child of the root (itself when it is
  // one); None on error.
  Window TopLevelAncestor(Window window);
  // The client (the window with WM_STATE) at or below the top-level `frame`
  // that contains `window`; `window`'s top-level ancestor when there is none.
  Window ClientOf(Window window);
  // The primary RandR output's size; false without RandR or a primary output.
  bool PrimaryOutputSize(std::int32_t* width, std::int32_t* height);
  // The primary screen's size, read once and again only after RandR reported
  // a change (checked without a round trip).
  void RefreshScreenSize();

  X11Connection connection_;
  Atom netActiveWindow_ = None;
  Atom netFrameExtents_ = None;
  Atom netSupportingWmCheck_ = None;
  Atom wmState_ = None;
  bool randr_ = false;
  int randrEventBase_ = 0;
  bool screenSizeKnown_ = false;
  std::int32_t screenWidth_ = 0;
  std::int32_t screenHeight_ = 0;
};

}  // namespace framory
