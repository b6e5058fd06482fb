// The bookkeeping behind ScreenChangeWatch, apart from the display: the
// rectangles drawn on screen and the pointer image changes reported since the
// last frame, and the view that frame was taken of. The display layer feeds
// it; the decision is made here, so it is tested without an X server.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "capture/ScreenChangeWatch.h"

namespace framory {

class ScreenChangeLog {
 public:
  // Beyond this many separate rectangles they are kept as their bounding
  // box: a busy screen costs a little accuracy, never unbounded memory.
  static constexpr std::size_t kMaxRects = 64;

  // Pixels of `area` (right and bottom exclusive) were drawn.
  void AddDamage(const Rect& area);
  // The pointer's image changed.
  void CursorImageChanged() { cursorChanged_ = true; }

  bool Unchanged(const ShotView& view) const;
  // What was drawn since the last frame, when that frame was of
  // `screenRect`: true, with `drawn` (when given) receiving the rectangles
  // as they were added. False when the last frame was of another rectangle
  // or there was none.
  bool DrawnSince(const Rect& screenRect, std::vector<Rect>* drawn) const;
  void FrameTaken(const ShotView& view);
  void Forget();

  // Whether a frame has been taken since the last Forget.
  bool HasFrame() const { return last_.has_value(); }

 private:
  std::optional<ShotView> last_;
  std::vector<Rect> damaged_;
  bool cursorChanged_ = false;
};

}  // namespace framory
