// Sound recorded into the same file as a clip's pictures (the MP4 and WebM
// clips): read from the sound server on a thread of its own, stamped with
// the steady clock the pictures are stamped with, and taken by the clip's
// writer from its worker thread as it encodes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace framory {

// Where the sound comes from (the stored SoundSource value).
enum class SoundSourceChoice : std::int32_t {
  Microphone = 0,  // the default source
  Desktop = 1,     // the monitor of the default sink: what the desktop plays
  Both = 2,        // the two mixed
};

// A stretch of sound as it was read: interleaved stereo float samples at
// ClipSound::kSampleRate, the first of them heard at FirstSampleNs on the
// steady clock (SteadyClock in base/MonotonicClock.h).
struct SoundChunk {
  std::int64_t FirstSampleNs = 0;
  std::vector<float> Samples;
};

// One source, read from Start until Stop. Every member may be called from
// any thread.
class ClipSound {
 public:
  static constexpr int kSampleRate = 48000;
  static constexpr int kChannels = 2;

  virtual ~ClipSound() = default;
  // Connects to the sound server and starts reading; false with the reason
  // (no sound server, no such source). A sound that starts in the
  // background returns true at once and tells a failure by StartFailed.
  virtual bool Start(std::string* failure) = 0;
  // True, with the reason, once a start that went on after Start returned
  // has failed; the sound then gives nothing.
  virtual bool StartFailed(std::string* /*failure*/) { return false; }
  // Stops reading. Chunks read before stay to be taken.
  virtual void Stop() = 0;
  // The chunks read since the last call, oldest first.
  virtual std::vector<SoundChunk> TakeChunks() = 0;
};

// Opens the sound of a clip; one per program.
class ClipSoundSource {
 public:
  virtual ~ClipSoundSource() = default;
  virtual std::unique_ptr<ClipSound> Open(SoundSourceChoice choice) = 0;
};

}  // namespace framory
