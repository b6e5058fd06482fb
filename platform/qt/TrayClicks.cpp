#include "platform/qt/TrayClicks.h"

#include <cstdlib>

#include "app/Application.h"

namespace framory {

std::int32_t TrayClicks::Press(int button, std::uint32_t timeMs, int x, int y) {
  if (button != kLeftButton && button != kRightButton) {
    havePrevious_ = false;
    return 0;
  }
  // Server time is a 32-bit millisecond count that wraps; the unsigned
  // difference is right across the wrap.
  const bool second = havePrevious_ && button == previousButton_ &&
                      timeMs - previousTime_ <= doubleClickMs_ &&
                      std::abs(x - previousX_) <= doubleClickDistance_ &&
                      std::abs(y - previousY_) <= doubleClickDistance_;
  if (second) {
    havePrevious_ = false;
    return button == kLeftButton ? TrayMouse::LeftButtonDoubleClick
                                 : TrayMouse::RightButtonDoubleClick;
  }
  havePrevious_ = true;
  previousButton_ = button;
  previousTime_ = timeMs;
  previousX_ = x;
  previousY_ = y;
  return button == kLeftButton ? TrayMouse::LeftButtonDown : TrayMouse::RightButtonDown;
}

}  // namespace framory
