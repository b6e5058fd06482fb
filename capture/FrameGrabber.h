// TakeShot: the one operation that turns the present screen into a frame. It
// asks the capture target for the region, grabs the pixels in the display's
// format, draws the pointer in and hands the frame to the still-image writer or
// the clip session. Encoder outputs get only the screen rectangle.
#pragma once

#include <cstdint>

#include "base/Frame.h"
#include "base/Settings.h"
#include "capture/CaptureLinks.h"
#include "capture/CaptureTarget.h"
#include "capture/ScreenChangeWatch.h"
#include "capture/ScreenGrabber.h"

namespace framory {

// Blends `cursor` into `frame` so that its hot spot lands on (x, y). Nothing
// is drawn when x or y is negative; the image is clipped at the frame's right
// and bottom edges. Works on 32-, 24-, 16- and 8-bit frames (8-bit ones take
// the nearest colour of `palette`, which must then be given).
void DrawCursor(Frame& frame, const CursorImage& cursor, std::int32_t x, std::int32_t y,
                const Palette* palette = nullptr);

// The rectangle of `frame` (right and bottom exclusive) that DrawCursor with
// the same arguments may change; empty when it changes nothing.
Rect CursorFootprint(const Frame& frame, const CursorImage& cursor, std::int32_t x, std::int32_t y);

class FrameGrabber {
 public:
  FrameGrabber(const Settings& settings, ScreenGrabber& screen, CaptureTarget& target,
               const CaptureLinks& links);

  // Screen changes, when the display can report them: movie shots of an
  // unchanged screen are stored as repeats of the previous frame, and a
  // screen that changed a little is read only where it changed.
  void SetChangeWatch(ScreenChangeWatch* changes) { changes_ = changes; }

  void TakeShot();

 private:
  const Settings& settings_;
  ScreenGrabber& screen_;
  CaptureTarget& target_;
  const CaptureLinks& links_;
  ScreenChangeWatch* changes_ = nullptr;
};

}  // namespace framory
