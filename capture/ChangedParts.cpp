#include "capture/ChangedParts.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace framory {

bool ChangedParts(const std::vector<Rect>& drawn, const Rect& region, std::vector<Rect>* parts) {
  if (parts == nullptr) return false;
  parts->clear();
  // Wide arithmetic: extreme coordinates must not wrap into the region.
  const std::int64_t width = std::int64_t{region.right} - region.left;
  const std::int64_t height = std::int64_t{region.bottom} - region.top;
  // A region wider than a 32-bit coordinate cannot hold its parts' places
  // (and is never grabbed).
  constexpr std::int64_t kMaxSide = std::numeric_limits<std::int32_t>::max();
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return false;

  for (const Rect& r : drawn) {
    const std::int64_t left = std::max<std::int64_t>(std::int64_t{r.left} - region.left, 0);
    const std::int64_t top = std::max<std::int64_t>(std::int64_t{r.top} - region.top, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{r.right} - region.left, width);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{r.bottom} - region.top, height);
    if (right <= left || bottom <= top) continue;  // empty, inverted or outside
    parts->push_back(Rect{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
                          static_cast<std::int32_t>(right), static_cast<std::int32_t>(bottom)});
  }

  if (parts->size() > kMaxChangedParts) {
    Rect box = parts->front();
    for (const Rect& p : *parts) {
      box.left = std::min(box.left, p.left);
      box.top = std::min(box.top, p.top);
      box.right = std::max(box.right, p.right);
      box.bottom = std::max(box.bottom, p.bottom);
    }
    parts->assign(1, box);
  }

  // Overlapping parts count twice: they are read twice.
  std::int64_t area = 0;
  for (const Rect& p : *parts) {
    area += std::int64_t{p.right - p.left} * (p.bottom - p.top);
  }
  if (area * 4 > width * height) {
    parts->clear();
    return false;
  }
  return true;
}

}  // namespace framory
