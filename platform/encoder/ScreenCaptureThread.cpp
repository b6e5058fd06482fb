#include "platform/encoder/ScreenCaptureThread.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "base/Frame.h"
#include "capture/StreamScreen.h"
#include "platform/media/Wmv2Encoder.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11ScreenGrabber.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace framory {
namespace {

// A key frame every few seconds: a new broadcast viewer starts at the most
// recent one, and a damaged file recovers at the next.
constexpr double kKeyFrameSeconds = 3.0;
constexpr int kFlashThickness = 4;
// How far behind (in frames) capturing may fall before frames are skipped.
constexpr std::int64_t kCatchUpFrames = 5;
constexpr auto kFlashTime = std::chrono::milliseconds(1000);

AVPixelFormat SourceFormat(const Frame& frame) {
  if (frame.BitsPerPixel == 32 && frame.RedMask == 0xFF0000 && frame.BlueMask == 0xFF)
    return AV_PIX_FMT_BGR0;
  if (frame.BitsPerPixel == 32 && frame.RedMask == 0xFF && frame.BlueMask == 0xFF0000)
    return AV_PIX_FMT_RGB0;
  if (frame.BitsPerPixel == 16 && frame.RedMask == 0xF800) return AV_PIX_FMT_RGB565LE;
  if (frame.BitsPerPixel == 16 && frame.RedMask == 0x7C00) return AV_PIX_FMT_RGB555LE;
  return AV_PIX_FMT_NONE;
}

}  // namespace

ScreenCaptureThread::ScreenCaptureThread(EncodingClock& clock)
    : CaptureThread(clock, Texts{"the video encoder failed",
                                 "the output could not be written; screen capture stopped"}) {}

ScreenCaptureThread::~ScreenCaptureThread() {
  Stop();
  HideFlash();
  if (displayLost_) {
    // Xlib can block for good in XCloseDisplay on a connection whose server
    // went away; the two dead connections are left open instead.
    (void)grabber_.release();
    (void)connection_.release();
  }
}

HResult ScreenCaptureThread::Prepare(const ScreenCaptureSettings& settings, std::string* failure) {
  settings_ = settings;
  int screenWidth = 0, screenHeight = 0;
  if (!OpenScreen(&screenWidth, &screenHeight, failure)) return EncoderResult::DeviceUnavailable;
  int left = 0, top = 0, right = screenWidth, bottom = screenHeight;
  if (!settings.WholeScreen) {
    left = std::clamp(settings.Left, 0, screenWidth);
    top = std::clamp(settings.Top, 0, screenHeight);
    right = std::clamp(settings.Right, 0, screenWidth);
    bottom = std::clamp(settings.Bottom, 0, screenHeight);
  }
  // Whole 4:2:0 chroma samples: even sizes.
  x_ = left;
  y_ = top;
  width_ = (right - left) & ~1;
  height_ = (bottom - top) & ~1;
  if (width_ < 2 || height_ < 2) {
    *failure = "the capture region lies outside the screen";
    return EncoderResult::InvalidArg;
  }
  if (!(settings.FramesPerSecond > 0.0)) return EncoderResult::InvalidArg;

  Wmv2Settings wmv2;
  wmv2.Width = (settings.Width > 0 ? settings.Width : width_) & ~1;
  wmv2.Height = (settings.Height > 0 ? settings.Height : height_) & ~1;
  // Frame times count frames; the encoder wants the period as a fraction.
  const AVRational rate = av_d2q(settings.FramesPerSecond, 65535);
  wmv2.FramePeriod = AVRational{rate.den, rate.num};
  wmv2.KeyFrameInterval =
      std::max(1, static_cast<int>(std::lround(settings.FramesPerSecond * kKeyFrameSeconds)));
  wmv2.Quantiser = settings.Quantiser;
  wmv2.GlobalHeader = true;
  Wmv2Encoder encoder;
  const Wmv2Encoder::Opened opened = encoder.Open(wmv2);
  if (opened == Wmv2Encoder::Opened::Refused) {
    *failure = "the video encoder does not take this size or frame rate";
    return EncoderResult::InvalidArg;
  }
  if (opened == Wmv2Encoder::Opened::NoEncoder) {
    *failure = "this FFmpeg has no Windows Media Video 8 encoder";
  }
  if (opened != Wmv2Encoder::Opened::Ok) return EncoderResult::Fail;
  codec_ = std::move(encoder.Codec);
  picture_ = std::move(encoder.Picture);
  packet_ = std::move(encoder.Packet);
  return EncoderResult::Ok;
}

bool ScreenCaptureThread::OpenScreen(int* width, int* height, std::string* failure) {
  if (settings_.Stream != nullptr) {
    settings_.FlashRect = false;
    settings_.Stream->NewestSize(width, height);
    if (*width <= 0 || *height <= 0) {
      *failure = "the screen stream has brought no picture yet";
      return false;
    }
    return true;
  }
  connection_ = std::make_unique<X11Connection>(settings_.DisplayName);
  grabber_ = std::make_unique<X11ScreenGrabber>(settings_.DisplayName);
  if (!connection_->Valid() || !grabber_->Valid()) {
    *failure = "cannot open the X display for screen capture";
    return false;
  }
  *width = DisplayWidth(connection_->display(), connection_->screen());
  *height = DisplayHeight(connection_->display(), connection_->screen());
  return true;
}

void ScreenCaptureThread::Run() {
  const double fps = settings_.FramesPerSecond;
  std::int64_t next = 0;
  bool flashing = false;
  std::chrono::steady_clock::time_point flashEnd;
  while (clock_.WaitWhilePaused()) {
    if (settings_.FlashRect && !settings_.WholeScreen && next == 0 && !flashing) {
      ShowFlash();
      flashing = true;
      flashEnd = std::chrono::steady_clock::now() + kFlashTime;
    }
    if (flashing && std::chrono::steady_clock::now() >= flashEnd) {
      HideFlash();
      settings_.FlashRect = false;
      flashing = false;
    }
    const auto due = static_cast<std::int64_t>(std::ceil(next * 1e6 / fps));
    if (!clock_.SleepUntil(due)) continue;
    if (!CaptureOne(next)) break;
    ++next;
    // A thread that fell behind for a moment catches up by taking the next
    // frames at once; one that fell further behind skips the frames whose
    // time has passed, so the pictures stay in step with the sound.
    const auto current = static_cast<std::int64_t>(std::floor(clock_.MediaTimeUs() * fps / 1e6));
    if (current > next + kCatchUpFrames) {
      framesMissed_ += static_cast<std::uint64_t>(current - next);
      next = current;
    }
  }
  HideFlash();
  Encode(nullptr);  // drain
}

bool ScreenCaptureThread::GrabRegion(Frame* frame) {
  if (settings_.Stream != nullptr) {
    // The stream's newest picture; one that changed size since is read as
    // far as it reaches, black beyond.
    if (!settings_.Stream->CopyNewest(x_, y_, width_, height_, &streamPixels_)) return false;
    frame->Width = width_;
    frame->Height = height_;
    frame->BitsPerPixel = 32;
    frame->RedMask = 0xFF0000;
    frame->GreenMask = 0x00FF00;
    frame->BlueMask = 0x0000FF;
    frame->BytesPerLine = width_ * 4;
    frame->Pixels = reinterpret_cast<std::uint8_t*>(streamPixels_.data());
    return true;
  }
  return grabber_->Grab(static_cast<WindowHandle>(connection_->root()), x_, y_, width_, height_,
                        frame);
}

bool ScreenCaptureThread::CaptureOne(std::int64_t pts) {
  Frame frame;
  if (!GrabRegion(&frame)) {
    if (settings_.Stream != nullptr) {
      Fail("the screen stream could not be read; screen capture stopped");
      return false;
    }
    // Asks the server on our own connection whether it is still there.
    if (connection_->Alive()) {
      X11ErrorTrap trap(connection_->display());
      XNoOp(connection_->display());
      trap.Failed();
    }
    displayLost_ = !connection_->Alive();
    Fail(displayLost_ ? "the X display closed; screen capture stopped"
                      : "the screen could not be read; screen capture stopped");
    return false;
  }
  const AVPixelFormat format = SourceFormat(frame);
  if (format == AV_PIX_FMT_NONE) {
    Fail("the screen's pixel format is not supported");
    return false;
  }
  if (!scale_ || scaleFormat_ != format) {
    scale_.reset(sws_getContext(width_, height_, format, codec_->width, codec_->height,
                                codec_->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr));
    scaleFormat_ = format;
    if (!scale_) {
      Fail("cannot convert the screen's pixels");
      return false;
    }
  }
  if (av_frame_make_writable(picture_.get()) < 0) return false;
  const std::uint8_t* source[1] = {frame.Pixels};
  const int stride[1] = {frame.BytesPerLine};
  sws_scale(scale_.get(), source, stride, 0, height_, picture_->data, picture_->linesize);
  picture_->pts = pts;
  picture_->quality = codec_->global_quality;
  picture_->pict_type = AV_PICTURE_TYPE_NONE;
  if (!Encode(picture_.get())) return false;
  ++framesEncoded_;
  return true;
}

void ScreenCaptureThread::ShowFlash() {
  if (!connection_ || !connection_->Alive()) return;
  Display* display = connection_->display();
  const int t = kFlashThickness;
  const int w = width_, h = height_;
  const int rects[4][4] = {{x_ - t, y_ - t, w + 2 * t, t},
                           {x_ - t, y_ + h, w + 2 * t, t},
                           {x_ - t, y_, t, h},
                           {x_ + w, y_, t, h}};
  X11ErrorTrap trap(display);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel =
      0xFF0000 & (DefaultVisual(display, connection_->screen())->red_mask);
  attributes.save_under = True;
  for (int i = 0; i < 4; ++i) {
    flashWindows_[i] = XCreateWindow(
        display, connection_->root(), rects[i][0], rects[i][1], static_cast<unsigned>(rects[i][2]),
        static_cast<unsigned>(rects[i][3]), 0, CopyFromParent, InputOutput, CopyFromParent,
        CWOverrideRedirect | CWBackPixel | CWSaveUnder, &attributes);
    XMapRaised(display, flashWindows_[i]);
  }
  XFlush(display);
  trap.Failed();
}

void ScreenCaptureThread::HideFlash() {
  if (!connection_ || !connection_->Alive()) return;
  Display* display = connection_->display();
  X11ErrorTrap trap(display);
  bool any = false;
  for (unsigned long& window : flashWindows_) {
    if (window == 0) continue;
    XDestroyWindow(display, window);
    window = 0;
    any = true;
  }
  if (any) trap.Failed();
}

}  // namespace framory
