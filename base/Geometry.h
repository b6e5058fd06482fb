// Plain value types shared by the capture engine and its platform layers:
// window handles, points and rectangles in screen pixels.
#pragma once

#include <cstdint>

namespace framory {

// An opaque window id of the window system (an X window id on Linux). 0 is
// "no window".
using WindowHandle = std::uint64_t;
inline constexpr WindowHandle kNoWindow = 0;

struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// left, top, right, bottom in that member order. Whether right and bottom are
// inclusive depends on the user of the rectangle and is said there.
struct Rect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace framory
