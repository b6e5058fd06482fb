// An in-memory window system for logic tests: windows with outer and client
// rectangles, owners, visibility, a foreground window and a pointer.
#pragma once

#include <map>
#include <vector>

#include "capture/WindowSystem.h"

namespace framory::testing {

class FakeWindowSystem : public WindowSystem {
 public:
  struct Window {
    Rect Outer;          // screen coordinates, right/bottom exclusive
    Point ClientOrigin;  // screen coordinates of the client's top-left pixel
    std::int32_t ClientWidth = 0;
    std::int32_t ClientHeight = 0;
    WindowHandle Owner = kNoWindow;
    bool Visible = true;
  };

  static constexpr WindowHandle kRoot = 1;

  // Adds a window whose client area is inset by a 4-pixel border and a
  // 20-pixel title bar, like a decorated window.
  WindowHandle Add(WindowHandle id, Rect outer, WindowHandle owner = kNoWindow) {
    Window w;
    w.Outer = outer;
    w.ClientOrigin = Point{outer.left + 4, outer.top + 20};
    w.ClientWidth = outer.right - outer.left - 8;
    w.ClientHeight = outer.bottom - outer.top - 24;
    w.Owner = owner;
    windows[id] = w;
    return id;
  }

  WindowHandle DesktopWindow() override { return kRoot; }
  WindowHandle ForegroundWindow() override { return foreground; }
  WindowHandle RootOwner(WindowHandle window) override {
    if (!windows.count(window)) return kNoWindow;
    while (windows.count(window) && windows[window].Owner != kNoWindow) {
      window = windows[window].Owner;
    }
    return window;
  }
  bool IsWindowVisible(WindowHandle window) override {
    return windows.count(window) && windows[window].Visible;
  }
  bool IsWindow(WindowHandle window) override {
    return window == kRoot || windows.count(window) != 0;
  }
  bool GetWindowInfo(WindowHandle window, Rect* outer, Rect* client) override {
    ++windowInfoCalls;
    if (window == kRoot) {
      *outer = Rect{0, 0, screenWidth, screenHeight};
      *client = *outer;
      return true;
    }
    auto it = windows.find(window);
    if (it == windows.end() || failWindowInfo) return false;
    *outer = it->second.Outer;
    *client = Rect{0, 0, it->second.ClientWidth, it->second.ClientHeight};
    return true;
  }
  bool ClientOrigin(WindowHandle window, Point* origin) override {
    auto it = windows.find(window);
    if (it == windows.end()) return false;
    *origin = it->second.ClientOrigin;
    return true;
  }
  bool SetOuterSize(WindowHandle window, std::int32_t width, std::int32_t height) override {
    resizes.push_back({window, width, height});
    auto it = windows.find(window);
    if (it == windows.end()) return false;
    Window& w = it->second;
    w.ClientWidth += width - (w.Outer.right - w.Outer.left);
    w.ClientHeight += height - (w.Outer.bottom - w.Outer.top);
    w.Outer.right = w.Outer.left + width;
    w.Outer.bottom = w.Outer.top + height;
    return true;
  }
  Point CursorPos() override { return pointer; }
  void SetCursorPos(Point position) override { pointer = position; }
  std::int32_t ScreenWidth() override { return screenWidth; }
  std::int32_t ScreenHeight() override { return screenHeight; }

  struct Resize {
    WindowHandle Window;
    std::int32_t Width;
    std::int32_t Height;
  };

  std::map<WindowHandle, Window> windows;
  WindowHandle foreground = kNoWindow;
  Point pointer;
  std::int32_t screenWidth = 1024;
  std::int32_t screenHeight = 768;
  bool failWindowInfo = false;
  int windowInfoCalls = 0;
  std::vector<Resize> resizes;
};

}  // namespace framory::testing
