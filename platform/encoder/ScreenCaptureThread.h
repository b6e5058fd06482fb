// The encoder's video source: its own X connection and capture thread that
// grabs the region (or the whole screen) through MIT-SHM at the profile's
// frame rate, converts it to YUV 4:2:0 and encodes it with FFmpeg's Windows
// Media Video 8 encoder (wmv2) at a fixed quantiser. Frames are stamped with
// the encoding clock, so pausing leaves no gap. A thread held up for a few
// frames catches up; frames whose time passed longer ago are skipped rather
// than sent late.
//
// In a Wayland session whose screen comes from the desktop's stream (the
// portal's or the compositor's screen copies) the pictures are copied from
// that stream instead, and the region is in the stream's pixels; there is
// no X connection then, and no flash.
//
// "FlashRect" marks the region with a frame of four override-redirect
// windows laid just outside it for about a second: the marks are never
// inside the grabbed rectangle, so they never reach the recording.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/encoder/CaptureThread.h"
#include "platform/encoder/EncodingClock.h"
#include "platform/media/FfmpegHandles.h"
#include "writers/MediaEncoderApi.h"

namespace framory {

class StreamScreen;
class X11Connection;
class X11ScreenGrabber;
struct Frame;

struct ScreenCaptureSettings {
  bool WholeScreen = true;
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool FlashRect = false;
  double FramesPerSecond = 10.0;
  int Quantiser = 3;
  // 0: the captured size.
  std::int32_t Width = 0, Height = 0;
  std::string DisplayName;  // empty: $DISPLAY
  // Where the pictures come from instead of X11; null: X11.
  const StreamScreen* Stream = nullptr;
};

class ScreenCaptureThread : public CaptureThread {
 public:
  explicit ScreenCaptureThread(EncodingClock& clock);
  ~ScreenCaptureThread() override;

  // Opens the X connection and the video encoder.
  HResult Prepare(const ScreenCaptureSettings& settings, std::string* failure);

  std::uint64_t FramesEncoded() const { return framesEncoded_; }
  std::uint64_t FramesMissed() const { return framesMissed_; }

 private:
  void Run() override;
  // The screen's size, from the stream or the X connection it opens.
  bool OpenScreen(int* width, int* height, std::string* failure);
  // One picture of the region into `frame`; false when the screen is gone.
  bool GrabRegion(Frame* frame);
  bool CaptureOne(std::int64_t pts);
  void ShowFlash();
  void HideFlash();

  ScreenCaptureSettings settings_;
  std::unique_ptr<X11Connection> connection_;
  std::unique_ptr<X11ScreenGrabber> grabber_;
  std::vector<std::uint32_t> streamPixels_;  // the region copied from the stream
  int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
  FrameHandle picture_;
  ScaleHandle scale_;
  int scaleFormat_ = -1;
  unsigned long flashWindows_[4] = {0, 0, 0, 0};
  bool displayLost_ = false;  // written by the thread, read after it ended
  std::atomic<std::uint64_t> framesEncoded_{0};
  std::atomic<std::uint64_t> framesMissed_{0};
};

}  // namespace framory
