// When each sample read from a sound stream was heard, on the steady clock.
//
// The sound server tells how long ago the next sample to be read was
// captured (the stream's latency); "now minus latency" is that sample's
// time. The answer is exact only just after the server's timing report
// arrives: in between, the client library counts the samples it handed out
// against a report that ages, and the answer drifts by tens of
// milliseconds. So the stamps run from one anchor by the count of samples
// read (a piece never leaves a gap or overlap with the one before), and
// only measurements taken when a report arrives steer them: their running
// mean moves the stamps by at most half a percent of the sound read since
// the last report (a few samples), enough to follow a sound card whose
// clock drifts from the steady clock. Until the first report, a rough
// measurement anchors the stamps, and the first report sets them. A report
// far off is ignored, unless three in a row agree: then the sound really
// broke (the server dropped sound nobody read, a stream moved to another
// device) and a new anchor starts.
#pragma once

#include <cstdint>

namespace framory {

class SoundStamps {
 public:
  explicit SoundStamps(int sampleRate) : sampleRate_(sampleRate) {}

  bool Anchored() const { return anchored_; }
  // The sample at `position` (samples read since the stream began) was
  // heard at `heardNs`, by a report just arrived.
  void Report(std::int64_t position, std::int64_t heardNs);
  // A rough measurement, used only while there is no anchor.
  void Guess(std::int64_t position, std::int64_t heardNs);
  // When the sample at `position` was heard.
  std::int64_t At(std::int64_t position) const;

 private:
  void Anchor(std::int64_t position, std::int64_t heardNs, bool rough);

  int sampleRate_;
  bool anchored_ = false;
  bool rough_ = false;
  std::int64_t anchorNs_ = 0;
  std::int64_t anchorPosition_ = 0;
  std::int64_t lastReport_ = 0;
  double meanError_ = 0;
  int farInARow_ = 0;
};

}  // namespace framory
