// A clip keeps the size of its first frame. When the stream's pictures change
// size (a monitor's mode changed, a shared window was resized), the open clip
// is ended before the next shot, which then starts a clip of the new size,
// rather than squeezing or cropping the new pictures into the old one.
#pragma once

#include <functional>
#include <utility>

#include "capture/CaptureLinks.h"
#include "capture/StreamScreen.h"

namespace framory {

class StreamSizeCut {
 public:
  StreamSizeCut(StreamScreen& screen, const MovieFrameSink& clip, std::function<void()> endClip)
      : screen_(screen), clip_(clip), endClip_(std::move(endClip)) {}

  // Called before every shot: takes the picture the shot will show.
  void BeforeShot() {
    screen_.Latch();
    const std::int32_t width = screen_.Width();
    const std::int32_t height = screen_.Height();
    if (width <= 0 || height <= 0) return;
    if (clipWidth_ > 0 && (width != clipWidth_ || height != clipHeight_) && clip_.ClipOpen()) {
      endClip_();
    }
    clipWidth_ = width;
    clipHeight_ = height;
  }
  // Called after every shot.
  void AfterShot() { screen_.Unlatch(); }

 private:
  StreamScreen& screen_;
  const MovieFrameSink& clip_;
  std::function<void()> endClip_;
  std::int32_t clipWidth_ = 0;
  std::int32_t clipHeight_ = 0;
};

}  // namespace framory
