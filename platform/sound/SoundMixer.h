// Mixes the sound of several streams into one by their time stamps, to the
// sample: a piece of each stream is added at the sample position its stamp
// gives, so two streams whose servers' latencies differ still line up as
// they were heard. Sound goes out once every stream has delivered up to
// that point. A stream that has delivered nothing for longer than the wait
// allowed (by the clock of arrival, not by stamps: a source may deliver
// well ahead of real time) counts as silent meanwhile, so the others are
// not held up; sound of it that arrives later for a stretch already sent
// is dropped. Where no stream has sound at all, nothing is sent: the next
// piece out starts later than the previous one ended.
//
// Plain C++, used from one thread (the sound server's).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "writers/ClipSound.h"

namespace framory {

class SoundMixer {
 public:
  SoundMixer(int inputs, int channels, int sampleRate, std::int64_t maxWaitNs);

  // Adds a piece of input `input` that arrived at `nowNs` (steady clock).
  void Add(int input, const SoundChunk& chunk, std::int64_t nowNs);
  // Appends to `out` what can be sent at `nowNs`. Called after adding all
  // that arrived together, so that a stream read just after another in the
  // same wake-up does not count as stalled.
  void Send(std::int64_t nowNs, std::vector<SoundChunk>* out);
  // Sends everything held, the streams that have not delivered so far
  // counting as silent.
  void Flush(std::vector<SoundChunk>* out);

 private:
  struct Piece {
    std::int64_t Start = 0;  // sample position of the first frame
    std::vector<float> Samples;
    std::int64_t End(int channels) const {
      return Start + static_cast<std::int64_t>(Samples.size()) / channels;
    }
  };
  struct Input {
    std::deque<Piece> Pieces;
    bool Delivered = false;
    std::int64_t End = 0;        // sample position after its last frame delivered
    std::int64_t ArrivedNs = 0;  // when its last piece arrived
  };

  std::int64_t PositionOf(std::int64_t stampNs) const;
  std::int64_t StampOf(std::int64_t position) const;
  void SendUntil(std::int64_t until, std::vector<SoundChunk>* out);

  int channels_;
  int sampleRate_;
  std::int64_t maxWaitNs_;
  std::vector<Input> inputs_;
  bool started_ = false;
  std::int64_t startedNs_ = 0;  // when the first piece arrived
  std::int64_t originNs_ = 0;   // the stamp of sample position 0
  bool sentAny_ = false;
  std::int64_t sent_ = 0;  // sample position up to which sound went out
};

}  // namespace framory
