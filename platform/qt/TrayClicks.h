// Turns the raw button presses on the tray icon into the tray's mouse
// messages. A press is "button down"; a second press of the same button that
// comes within the double-click time and distance of the first is "double
// click" instead, and the press after a double click starts a new pair. Only
// the left and the right button have messages; the others give none.
#pragma once

#include <cstdint>

namespace framory {

class TrayClicks {
 public:
  // X button numbers.
  static constexpr int kLeftButton = 1;
  static constexpr int kRightButton = 3;

  TrayClicks(std::uint32_t doubleClickMs, int doubleClickDistance)
      : doubleClickMs_(doubleClickMs), doubleClickDistance_(doubleClickDistance) {}

  // The mouse message for a press of `button` at server time `timeMs` and
  // root position (x, y); 0 for a button without message.
  std::int32_t Press(int button, std::uint32_t timeMs, int x, int y);

 private:
  std::uint32_t doubleClickMs_;
  int doubleClickDistance_;
  bool havePrevious_ = false;
  int previousButton_ = 0;
  std::uint32_t previousTime_ = 0;
  int previousX_ = 0;
  int previousY_ = 0;
};

}  // namespace framory
