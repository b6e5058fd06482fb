// Whether what a movie shot would show can have changed since the clip's
// previous frame. Screen recordings are mostly still; when nothing inside the
// capture region was drawn, the region did not move and the pointer neither
// moved nor changed its image, the frame grabber stores a repeat of the
// previous frame instead of grabbing, composing and encoding the same pixels
// again. Implemented with the X DAMAGE and XFixes extensions in platform/x11;
// a display without them never reports a region unchanged.
#pragma once

#include <vector>

#include "base/Geometry.h"

namespace framory {

// What one movie shot looks at: the region on screen and, when the pointer is
// drawn into the frames, where it is relative to the region.
struct ShotView {
  Rect ScreenRect;
  bool CursorDrawn = false;
  Point CursorPosition;
  friend bool operator==(const ShotView&, const ShotView&) = default;
};

class ScreenChangeWatch {
 public:
  virtual ~ScreenChangeWatch() = default;
  // True only when `view` is the view of the last FrameTaken and nothing has
  // been drawn inside its rectangle since, nor has the drawn pointer changed
  // its image. Events already received are taken into account first.
  virtual bool Unchanged(const ShotView& view) = 0;
  // A frame of `view` is about to be grabbed: changes are counted from now on.
  // True when the previous frame was of the same screen rectangle and
  // `drawn` (when given) now holds everything drawn on screen since then, in
  // screen pixels as reported (rectangles may overlap or reach outside the
  // view); the grab may then re-read only those parts. False when that is not
  // known: the whole region is read.
  virtual bool FrameTaken(const ShotView& view, std::vector<Rect>* drawn) = 0;
  // Forgets the last frame (a clip ended): the next shot is always grabbed.
  virtual void Forget() = 0;
};

}  // namespace framory
