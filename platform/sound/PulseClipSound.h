// A clip's sound from the PulseAudio sound server (PipeWire's PulseAudio
// service works the same): the microphone is the server's default source,
// the desktop's sound the monitor of its default sink, and "both" the two
// read side by side and mixed by their time stamps.
//
// The server is read through the asynchronous client API on the client
// library's own thread (pa_threaded_mainloop), in 48 kHz stereo float as the
// server delivers it, so no caller's thread ever waits for sound. Each piece
// is stamped on the steady clock with when its first sample was heard (the
// time of the read less the stream's latency, see SoundStamps). Pieces wait
// in a queue until the writer takes them; if nobody does, the oldest are
// dropped beyond a bound and counted.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "writers/ClipSound.h"

namespace framory {

class PulseClipSound : public ClipSound {
 public:
  struct Limits {
    // Sound held for the writer at most; older pieces are dropped.
    std::int64_t HeldNs = 10'000'000'000;
    // How long the mix of both sources waits for one that delivers nothing
    // (a busy machine may hold a source back for some hundreds of ms).
    std::int64_t MixWaitNs = 1'000'000'000;
    // How long Start waits for the server's answers.
    std::int64_t AnswerNs = 2'000'000'000;
  };

  explicit PulseClipSound(SoundSourceChoice choice);
  PulseClipSound(SoundSourceChoice choice, const Limits& limits);
  ~PulseClipSound() override;
  PulseClipSound(const PulseClipSound&) = delete;
  PulseClipSound& operator=(const PulseClipSound&) = delete;

  bool Start(std::string* failure) override;
  void Stop() override;
  std::vector<SoundChunk> TakeChunks() override;

  // Frames dropped because they were not taken in time.
  std::int64_t DroppedFrames() const;

 private:
  // The connection: the client library's thread, its context, the streams
  // and the mix; it calls Push from that thread.
  struct Server;
  void Push(SoundChunk chunk);

  SoundSourceChoice choice_;
  Limits limits_;
  std::mutex control_;  // Start and Stop
  std::unique_ptr<Server> server_;

  mutable std::mutex queueLock_;
  std::deque<SoundChunk> queue_;
  std::int64_t heldFrames_ = 0;
  std::int64_t droppedFrames_ = 0;
};

// Opens the server's sound to start in the background (BackgroundClipSound):
// the writers call Start on the event loop, which must not wait while the
// server answers.
class PulseClipSoundSource : public ClipSoundSource {
 public:
  PulseClipSoundSource() = default;
  explicit PulseClipSoundSource(const PulseClipSound::Limits& limits) : limits_(limits) {}
  std::unique_ptr<ClipSound> Open(SoundSourceChoice choice) override;

 private:
  PulseClipSound::Limits limits_;
};

}  // namespace framory
