// Which parts of a capture region to read again when only a little of it
// changed since the previous frame. The rectangles come from the display's
// change reports and are not trusted: they may be empty, inverted, overlap,
// lie outside the region or carry extreme coordinates.
#pragma once

#include <cstddef>
#include <vector>

#include "base/Geometry.h"

namespace framory {

// Beyond this many separate parts their bounding box is read instead: each
// part costs a round trip to the display.
inline constexpr std::size_t kMaxChangedParts = 16;

// Takes `drawn` (screen pixels, right and bottom exclusive) against `region`
// (screen pixels, right and bottom exclusive) and fills `parts` with the
// drawn pixels inside the region, in region coordinates. True when reading
// only those parts is worth it: together they cover at most a quarter of
// the region (none at all is fine). False when the whole region should be
// read; `parts` is then left empty.
//
// Why a quarter: a partial read copies each part twice (server into a
// scratch segment, then into the kept frame) and pays a round trip per part,
// where a full read is one round trip and one copy. Past about a quarter of
// the region the saving in pixels read is small next to the encoding that
// follows, and a screen changing that much is usually changing everywhere.
bool ChangedParts(const std::vector<Rect>& drawn, const Rect& region, std::vector<Rect>* parts);

}  // namespace framory
