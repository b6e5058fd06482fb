#include "capture/ScreenChangeLog.h"

#include <algorithm>

namespace framory {

namespace {

// The capture region's right and bottom edges are taken as inclusive, so a
// rectangle that only touches the region still counts: wrongly seeing a
// change costs one frame of work, wrongly missing one shows stale pixels.
bool Touches(const Rect& damage, const Rect& region) {
  return damage.left <= region.right && damage.right > region.left && damage.top <= region.bottom &&
         damage.bottom > region.top;
}

}  // namespace

void ScreenChangeLog::AddDamage(const Rect& area) {
  if (area.right <= area.left || area.bottom <= area.top) return;
  if (damaged_.size() < kMaxRects) {
    damaged_.push_back(area);
    return;
  }
  Rect box = area;
  for (const Rect& r : damaged_) {
    box.left = std::min(box.left, r.left);
    box.top = std::min(box.top, r.top);
    box.right = std::max(box.right, r.right);
    box.bottom = std::max(box.bottom, r.bottom);
  }
  damaged_.assign(1, box);
}

bool ScreenChangeLog::Unchanged(const ShotView& view) const {
  if (!last_ || !(*last_ == view)) return false;
  if (view.CursorDrawn && cursorChanged_) return false;
  return std::none_of(damaged_.begin(), damaged_.end(),
                      [&](const Rect& r) { return Touches(r, view.ScreenRect); });
}

bool ScreenChangeLog::DrawnSince(const Rect& screenRect, std::vector<Rect>* drawn) const {
  if (!last_ || !(last_->ScreenRect == screenRect)) return false;
  if (drawn != nullptr) *drawn = damaged_;
  return true;
}

void ScreenChangeLog::FrameTaken(const ShotView& view) {
  last_ = view;
  damaged_.clear();
  cursorChanged_ = false;
}

void ScreenChangeLog::Forget() {
  last_.reset();
  damaged_.clear();
  cursorChanged_ = false;
}

}  // namespace framory
