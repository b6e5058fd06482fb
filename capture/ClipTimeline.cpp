#include "capture/ClipTimeline.h"

#include <algorithm>
#include <limits>

namespace framory {

void ClipTimeline::Start(std::int32_t periodMilliseconds) {
  started_ = true;
  periodNs_ = std::int64_t{std::max(periodMilliseconds, 1)} * 1000000;
  startNs_ = clock_.NowNanoseconds();
  pausedNs_ = 0;
  pauseStartNs_ = -1;
  lastPosition_ = -1;
}

void ClipTimeline::Reset() {
  started_ = false;
  pauseStartNs_ = -1;
  lastPosition_ = -1;
}

void ClipTimeline::Paused() {
  if (started_ && pauseStartNs_ < 0) pauseStartNs_ = clock_.NowNanoseconds();
}

void ClipTimeline::Resumed() {
  if (!started_ || pauseStartNs_ < 0) return;
  pausedNs_ += std::max<std::int64_t>(clock_.NowNanoseconds() - pauseStartNs_, 0);
  pauseStartNs_ = -1;
}

std::int32_t ClipTimeline::PeekPosition() const {
  if (!started_) return 0;
  std::int64_t now = clock_.NowNanoseconds();
  // A shot during a pause (a trigger that still fires) counts at the pause.
  if (pauseStartNs_ >= 0) now = pauseStartNs_;
  const std::int64_t active = std::max<std::int64_t>(now - startNs_ - pausedNs_, 0);
  const std::int64_t rounded = (active + periodNs_ / 2) / periodNs_;
  const std::int64_t position = std::min<std::int64_t>(std::max(rounded, lastPosition_ + 1),
                                                       std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(position);
}

}  // namespace framory
