// The encoder's audio source: the default PulseAudio source (PipeWire's
// PulseAudio service works the same), read on a thread of its own through
// the simple client API and encoded to Windows Media Audio 2 (wmav2).
// Sound read while the encoding is paused is thrown away, and what the
// server buffered meanwhile is flushed on resume, so the track stays
// continuous like the pictures.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/encoder/EncodingClock.h"
#include "platform/encoder/FfmpegHandles.h"
#include "writers/MediaEncoderApi.h"

struct pa_simple;

namespace framory {

class AsfOutput;

class SoundCaptureThread {
 public:
  static constexpr int kSampleRate = 44100;
  static constexpr int kChannels = 2;

  explicit SoundCaptureThread(EncodingClock& clock);
  ~SoundCaptureThread();
  SoundCaptureThread(const SoundCaptureThread&) = delete;
  SoundCaptureThread& operator=(const SoundCaptureThread&) = delete;

  // Connects to the sound server and opens the audio encoder. A missing
  // server is a DeviceUnavailable failure with the reason.
  HResult Prepare(std::string* failure);
  const AVCodecContext* Codec() const { return codec_.get(); }
  void Launch(AsfOutput* output, int index);
  void Join();
  std::string Failure() const;

 private:
  void Run();
  bool EncodeBuffered();
  bool Encode(AVFrame* frame);
  void Fail(const std::string& why);

  EncodingClock& clock_;
  pa_simple* stream_ = nullptr;
  CodecContextHandle codec_;
  FrameHandle frame_;
  PacketHandle packet_;
  std::vector<float> buffered_;  // interleaved samples not yet encoded
  std::int64_t samplesEncoded_ = 0;

  AsfOutput* output_ = nullptr;
  int index_ = -1;
  std::thread thread_;
  mutable std::mutex failureMutex_;
  std::string failure_;
};

}  // namespace framory
