// When the first sample of each piece read from a sound stream was heard,
// on the steady clock.
//
// The sound server tells, at each read, how long ago the next sample to be
// read was captured (the stream's latency); "now minus latency" is that
// sample's time. Taken alone for every piece it jitters by a millisecond or
// two with the scheduling of the reading thread, which would leave small
// gaps and overlaps between pieces that are in truth contiguous. So the
// stamps run on from one anchor by the count of samples read, and the
// measured times only correct the anchor: their running mean moves it once
// it is more than a couple of milliseconds off (the sound card's clock
// drifting from the steady clock), and a single measurement far off (the
// server dropped sound while nobody read, a stream moved to another device)
// starts a new anchor at once.
#pragma once

#include <cstdint>

namespace framory {

class SoundStamps {
 public:
  explicit SoundStamps(int sampleRate) : sampleRate_(sampleRate) {}

  // The stamp of a piece of `frames` frames whose first frame was measured
  // at `measuredNs`; the next piece is expected right after it.
  std::int64_t Next(std::int64_t measuredNs, std::int64_t frames);
  // The stamp of a piece when no measurement could be had: right after the
  // previous piece, or `fallbackNs` for the first.
  std::int64_t NextUnmeasured(std::int64_t fallbackNs, std::int64_t frames);

 private:
  std::int64_t Expected() const;
  std::int64_t Advance(std::int64_t frames);

  int sampleRate_;
  bool anchored_ = false;
  std::int64_t anchorNs_ = 0;
  std::int64_t framesSinceAnchor_ = 0;
  double meanError_ = 0;
};

}  // namespace framory
