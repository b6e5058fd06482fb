// What the encoder's capture threads (screen and sound) share: the thread
// itself, launched on a prepared encoder and joined once the encoding clock
// has stopped (the clock is the stop flag every capture loop waits on), the
// first failure that ended it early, and the encoder whose packets it hands
// to the ASF output.
#pragma once

#include <mutex>
#include <string>
#include <thread>

#include "platform/encoder/EncodingClock.h"
#include "platform/media/FfmpegHandles.h"

extern "C" {
struct AVFrame;
}

namespace framory {

class AsfOutput;

class CaptureThread {
 public:
  CaptureThread(const CaptureThread&) = delete;
  CaptureThread& operator=(const CaptureThread&) = delete;

  // The opened encoder, for the output's stream.
  const AVCodecContext* Codec() const { return codec_.get(); }
  // Starts capturing into stream `index` of `output`.
  void Launch(AsfOutput* output, int index);
  // Waits for the thread after the clock has stopped; it drains its encoder
  // before it ends.
  void Join();
  // Why capturing stopped early; empty when it did not.
  std::string Failure() const;

 protected:
  // The failure texts of this thread's encoder and of its output.
  struct Texts {
    const char* EncoderFailed;
    const char* OutputFailed;
  };
  CaptureThread(EncodingClock& clock, Texts texts);
  virtual ~CaptureThread();
  // Stops the clock and waits for the thread. A derived class calls it
  // first in its destructor, before the members the thread uses go.
  void Stop();

  // The capture loop, on the thread.
  virtual void Run() = 0;
  // Sends `frame` to the encoder (null: drains it) and writes every packet
  // it gives; false (with the failure kept) when either fails.
  bool Encode(AVFrame* frame);
  // Keeps `why` unless an earlier failure was kept.
  void Fail(const std::string& why);

  EncodingClock& clock_;
  CodecContextHandle codec_;
  PacketHandle packet_;

 private:
  const Texts texts_;
  AsfOutput* output_ = nullptr;
  int index_ = -1;
  std::thread thread_;
  mutable std::mutex failureMutex_;
  std::string failure_;
};

}  // namespace framory
