#include "platform/sound/SoundStamps.h"

#include <cmath>
#include <cstdlib>

namespace framory {

namespace {

// A measurement this far from the running stamps is a break in the sound,
// not jitter.
constexpr std::int64_t kBreakNs = 60'000'000;
// The running mean of the errors moves the anchor once it is this far off.
constexpr double kDriftNs = 2'000'000;
// Weight of each new measurement in the running mean.
constexpr double kMeanWeight = 1.0 / 8;

}  // namespace

std::int64_t SoundStamps::Expected() const {
  return anchorNs_ + framesSinceAnchor_ * 1'000'000'000 / sampleRate_;
}

std::int64_t SoundStamps::Next(std::int64_t measuredNs, std::int64_t frames) {
  if (anchored_) {
    const std::int64_t error = measuredNs - Expected();
    if (std::llabs(error) > kBreakNs) {
      anchored_ = false;
    } else {
      meanError_ += (static_cast<double>(error) - meanError_) * kMeanWeight;
      if (std::fabs(meanError_) > kDriftNs) {
        anchorNs_ += static_cast<std::int64_t>(meanError_);
        meanError_ = 0;
      }
    }
  }
  if (!anchored_) {
    anchored_ = true;
    anchorNs_ = measuredNs;
    framesSinceAnchor_ = 0;
    meanError_ = 0;
  }
  return Advance(frames);
}

std::int64_t SoundStamps::NextUnmeasured(std::int64_t fallbackNs, std::int64_t frames) {
  if (!anchored_) {
    anchored_ = true;
    anchorNs_ = fallbackNs;
    framesSinceAnchor_ = 0;
  }
  return Advance(frames);
}

std::int64_t SoundStamps::Advance(std::int64_t frames) {
  // The count stays small enough for the products above however long the
  // recording runs: an hour's worth is folded into the anchor.
  if (framesSinceAnchor_ > 3600LL * sampleRate_) {
    anchorNs_ = Expected();
    framesSinceAnchor_ = 0;
  }
  const std::int64_t stamp = Expected();
  framesSinceAnchor_ += frames;
  return stamp;
}

}  // namespace framory
