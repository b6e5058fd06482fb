// The encoder's audio source: the default PulseAudio source (PipeWire's
// PulseAudio service works the same), read on a thread of its own through
// the simple client API and encoded to Windows Media Audio 2 (wmav2).
// Sound read while the encoding is paused is thrown away, and what the
// server buffered meanwhile is flushed on resume, so the track stays
// continuous like the pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/encoder/CaptureThread.h"
#include "platform/encoder/EncodingClock.h"
#include "platform/media/FfmpegHandles.h"
#include "writers/MediaEncoderApi.h"

struct pa_simple;

namespace framory {

class SoundCaptureThread : public CaptureThread {
 public:
  static constexpr int kSampleRate = 44100;
  static constexpr int kChannels = 2;

  explicit SoundCaptureThread(EncodingClock& clock);
  ~SoundCaptureThread() override;

  // Connects to the sound server and opens the audio encoder. A missing
  // server is a DeviceUnavailable failure with the reason.
  HResult Prepare(std::string* failure);

 private:
  void Run() override;
  bool EncodeBuffered();

  pa_simple* stream_ = nullptr;
  FrameHandle frame_;
  std::vector<float> buffered_;  // interleaved samples not yet encoded
  std::int64_t samplesEncoded_ = 0;
};

}  // namespace framory
