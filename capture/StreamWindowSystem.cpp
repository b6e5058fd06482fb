#include "capture/StreamWindowSystem.h"

namespace framory {

bool StreamWindowSystem::GetWindowInfo(WindowHandle window, Rect* windowRect, Rect* clientRect) {
  if (!IsWindow(window) || windowRect == nullptr || clientRect == nullptr) return false;
  *windowRect = Rect{0, 0, screen_.Width(), screen_.Height()};
  *clientRect = *windowRect;
  return true;
}

bool StreamWindowSystem::ClientOrigin(WindowHandle window, Point* origin) {
  if (!IsWindow(window) || origin == nullptr) return false;
  *origin = Point{0, 0};
  return true;
}

}  // namespace framory
