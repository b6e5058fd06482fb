// What the frame grabber asks of the display: pixels, the palette of palette
// displays, and the pointer's image. Implemented over MIT-SHM and XFixes in
// platform/x11.
#pragma once

#include <cstdint>
#include <vector>

#include "base/Frame.h"
#include "base/Geometry.h"

namespace framory {

class ScreenGrabber {
 public:
  virtual ~ScreenGrabber() = default;

  // Copies width × height pixels into `frame`. The source is `source`'s
  // drawable: for the desktop window (x, y) are screen coordinates, for any
  // other window they are relative to its client area. The frame's pixels stay
  // valid until the next Grab or ReleaseFrame. False when nothing could be
  // grabbed (zero size, a window that vanished, an X error).
  virtual bool Grab(WindowHandle source, std::int32_t x, std::int32_t y, std::int32_t width,
                    std::int32_t height, Frame* frame) = 0;
  // Brings the frame of the last successful Grab or Regrab up to date by
  // reading only `parts` (rectangles in the frame's coordinates, right and
  // bottom exclusive; clipped to the frame) from the screen. Only for the same
  // source and rectangle as that grab, whose pixels the caller has left as
  // they were handed out (or put back). False when it cannot be done (another
  // rectangle, a window source, a display format it does not handle, an X
  // error): the caller then grabs the whole frame.
  virtual bool Regrab(WindowHandle /*source*/, std::int32_t /*x*/, std::int32_t /*y*/,
                      std::int32_t /*width*/, std::int32_t /*height*/,
                      const std::vector<Rect>& /*parts*/, Frame* /*frame*/) {
    return false;
  }
  // Frees what the last Grab holds beyond what may be reused for the next shot
  // of the same size.
  virtual void ReleaseFrame() = 0;

  // True on palette (8-bit PseudoColor) displays.
  virtual bool IsPaletteDisplay() = 0;
  // The 256 colours of the palette in use for `paletteWindow`.
  virtual bool ReadPalette(WindowHandle paletteWindow, Palette* palette) = 0;

  // The pointer's current image. False when there is no cursor or it is
  // hidden (an image with no visible pixel counts as hidden).
  virtual bool CurrentCursor(CursorImage* cursor) = 0;
};

}  // namespace framory
