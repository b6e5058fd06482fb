// The window system as a screen stream shows it: one "window", the whole
// picture, which is also the desktop; no foreground window (a stream tells
// nothing about the windows in it, so window targets take the whole
// picture); the pointer where the stream's pointer metadata puts it.
#pragma once

#include "capture/StreamScreen.h"
#include "capture/WindowSystem.h"

namespace framory {

class StreamWindowSystem : public WindowSystem {
 public:
  explicit StreamWindowSystem(StreamScreen& screen) : screen_(screen) {}

  WindowHandle DesktopWindow() override { return StreamScreen::kStreamWindow; }
  WindowHandle ForegroundWindow() override { return kNoWindow; }
  WindowHandle RootOwner(WindowHandle window) override { return window; }
  bool IsWindowVisible(WindowHandle window) override { return IsWindow(window); }
  bool IsWindow(WindowHandle window) override { return window == StreamScreen::kStreamWindow; }
  bool GetWindowInfo(WindowHandle window, Rect* windowRect, Rect* clientRect) override;
  bool ClientOrigin(WindowHandle window, Point* origin) override;
  // Windows of other programs cannot be resized from here.
  bool SetOuterSize(WindowHandle, std::int32_t, std::int32_t) override { return false; }
  Point CursorPos() override { return screen_.PointerPosition(); }
  void SetCursorPos(Point) override {}
  std::int32_t ScreenWidth() override { return screen_.Width(); }
  std::int32_t ScreenHeight() override { return screen_.Height(); }

 private:
  StreamScreen& screen_;
};

}  // namespace framory
