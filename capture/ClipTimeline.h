// Where each frame of a clip driven by the periodic timer goes in the movie,
// so that the movie plays in real time however many shots the machine
// managed: a frame taken t after the clip started, not counting the time the
// recorder stood paused, goes to position round(t / period). A shot whose
// position is already taken goes to the next free one; positions no shot
// reached are left to the writer to fill (the previous picture is held).
#pragma once

#include <cstdint>

#include "base/MonotonicClock.h"

namespace framory {

class ClipTimeline {
 public:
  explicit ClipTimeline(const MonotonicClock& clock) : clock_(clock) {}

  // The clip's first shot, now; `periodMilliseconds` must be above 0.
  void Start(std::int32_t periodMilliseconds);
  // Forgets the clip.
  void Reset();
  bool Started() const { return started_; }

  // The recorder paused or resumed; time in between does not count.
  void Paused();
  void Resumed();

  // The position of a shot taken now (0 for the first shot of the clip).
  std::int32_t NextPosition() {
    const std::int32_t position = PeekPosition();
    Take(position);
    return position;
  }
  // The same in two steps, for a shot that may turn out not to be taken.
  std::int32_t PeekPosition() const;
  void Take(std::int32_t position) { lastPosition_ = position; }

 private:
  const MonotonicClock& clock_;
  bool started_ = false;
  std::int64_t periodNs_ = 0;
  std::int64_t startNs_ = 0;
  std::int64_t pausedNs_ = 0;       // paused time so far, past pauses only
  std::int64_t pauseStartNs_ = -1;  // when the pause under way began; -1 when active
  std::int64_t lastPosition_ = -1;
};

}  // namespace framory
