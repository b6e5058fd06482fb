// The encoder's video source: its own X connection and capture thread that
// grabs the region (or the whole screen) through MIT-SHM at the profile's
// frame rate, converts it to YUV 4:2:0 and encodes it with FFmpeg's Windows
// Media Video 8 encoder (wmv2) at a fixed quantiser. Frames are stamped with
// the encoding clock, so pausing leaves no gap. A thread held up for a few
// frames catches up; frames whose time passed longer ago are skipped rather
// than sent late.
//
// "FlashRect" marks the region with a frame of four override-redirect
// windows laid just outside it for about a second: the marks are never
// inside the grabbed rectangle, so they never reach the recording.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/encoder/EncodingClock.h"
#include "platform/encoder/FfmpegHandles.h"
#include "writers/MediaEncoderApi.h"

namespace framory {

class AsfOutput;
class X11Connection;
class X11ScreenGrabber;

struct ScreenCaptureSettings {
  bool WholeScreen = true;
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool FlashRect = false;
  double FramesPerSecond = 10.0;
  int Quantiser = 3;
  // 0: the captured size.
  std::int32_t Width = 0, Height = 0;
  std::string DisplayName;  // empty: $DISPLAY
};

class ScreenCaptureThread {
 public:
  explicit ScreenCaptureThread(EncodingClock& clock);
  ~ScreenCaptureThread();
  ScreenCaptureThread(const ScreenCaptureThread&) = delete;
  ScreenCaptureThread& operator=(const ScreenCaptureThread&) = delete;

  // Opens the X connection and the video encoder.
  HResult Prepare(const ScreenCaptureSettings& settings, std::string* failure);
  const AVCodecContext* Codec() const { return codec_.get(); }
  // Starts capturing into stream `index` of `output`.
  void Launch(AsfOutput* output, int index);
  // Waits for the thread after the clock has stopped; drains the encoder.
  void Join();

  std::uint64_t FramesEncoded() const { return framesEncoded_; }
  std::uint64_t FramesMissed() const { return framesMissed_; }
  // Why capturing stopped early; empty when it did not.
  std::string Failure() const;

 private:
  void Run();
  bool CaptureOne(std::int64_t pts);
  bool Encode(AVFrame* frame);
  void ShowFlash();
  void HideFlash();
  void Fail(const std::string& why);

  EncodingClock& clock_;
  ScreenCaptureSettings settings_;
  std::unique_ptr<X11Connection> connection_;
  std::unique_ptr<X11ScreenGrabber> grabber_;
  int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
  CodecContextHandle codec_;
  FrameHandle picture_;
  PacketHandle packet_;
  ScaleHandle scale_;
  int scaleFormat_ = -1;
  unsigned long flashWindows_[4] = {0, 0, 0, 0};
  bool displayLost_ = false;  // written by the thread, read after it ended

  AsfOutput* output_ = nullptr;
  int index_ = -1;
  std::thread thread_;
  std::atomic<std::uint64_t> framesEncoded_{0};
  std::atomic<std::uint64_t> framesMissed_{0};
  mutable std::mutex failureMutex_;
  std::string failure_;
};

}  // namespace framory
