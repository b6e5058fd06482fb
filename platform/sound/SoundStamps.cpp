#include "platform/sound/SoundStamps.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace framory {

namespace {

// A report this far from the running stamps is no jitter: either a wild
// one (ignored) or, three in a row, a break in the sound.
constexpr std::int64_t kBreakNs = 80'000'000;
constexpr int kBreakCount = 3;
// Weight of each new report in the running mean of the errors.
constexpr double kMeanWeight = 1.0 / 4;
// The stamps follow the mean once it is this far off...
constexpr double kDeadBandNs = 500'000;
// ...by at most this share of the sound read since the last report.
constexpr double kMaxSlew = 0.005;

}  // namespace

std::int64_t SoundStamps::At(std::int64_t position) const {
  return anchorNs_ + (position - anchorPosition_) * 1'000'000'000 / sampleRate_;
}

void SoundStamps::Anchor(std::int64_t position, std::int64_t heardNs, bool rough) {
  anchored_ = true;
  rough_ = rough;
  anchorNs_ = heardNs;
  anchorPosition_ = position;
  lastReport_ = position;
  meanError_ = 0;
  farInARow_ = 0;
}

void SoundStamps::Guess(std::int64_t position, std::int64_t heardNs) {
  if (!anchored_) Anchor(position, heardNs, true);
}

void SoundStamps::Report(std::int64_t position, std::int64_t heardNs) {
  if (!anchored_ || rough_) {
    Anchor(position, heardNs, false);
    return;
  }
  const std::int64_t error = heardNs - At(position);
  if (std::llabs(error) > kBreakNs) {
    if (++farInARow_ >= kBreakCount) Anchor(position, heardNs, false);
    return;
  }
  farInARow_ = 0;
  meanError_ += (static_cast<double>(error) - meanError_) * kMeanWeight;
  if (std::fabs(meanError_) > kDeadBandNs) {
    const double most = kMaxSlew *
                        static_cast<double>(std::max<std::int64_t>(0, position - lastReport_)) *
                        1e9 / sampleRate_;
    const double step = std::clamp(meanError_, -most, most);
    // Moved at `position`, so stamps of sound already handed out stay
    // as they were.
    anchorNs_ = At(position) + static_cast<std::int64_t>(step);
    anchorPosition_ = position;
    meanError_ -= step;
  }
  lastReport_ = position;
}

}  // namespace framory
