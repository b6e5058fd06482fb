// The screen encoder (output type 19) end to end on Xvfb: an EncoderSession
// over the real encoder component captures the marked region into a WMV
// file, which ffprobe/ffmpeg read back and compare with what the test's own
// windows put on the screen.
#include <gtest/gtest.h>

#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

#include <unistd.h>

#include "capture/WriterFailureBoxes.h"
#include "platform/encoder/WmEncoderLibrary.h"
#include "support/EncoderProbe.h"
#include "support/MediaProbe.h"
#include "support/RecorderFakes.h"
#include "support/TempDir.h"
#include "support/X11TestWindows.h"
#include "support/XvfbServer.h"
#include "writers/EncoderSession.h"

namespace framory {
namespace {

using testing::DecodeFrames;
using testing::ProbeVideo;
using testing::TempDir;

void RecordFor(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int Channel(std::uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xFF); }

bool Near(std::uint32_t pixel, int red, int green, int blue, int tolerance = 24) {
  return std::abs(Channel(pixel, 16) - red) <= tolerance &&
         std::abs(Channel(pixel, 8) - green) <= tolerance &&
         std::abs(Channel(pixel, 0) - blue) <= tolerance;
}

class ScreenEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(windows.Valid()); }

  std::unique_ptr<EncoderSession> NewSession() {
    auto session = std::make_unique<EncoderSession>(library, reports);
    session->SetFramesPerSecond(10.0);
    session->SetRecordAudio(false);
    return session;
  }

  X11TestWindows windows;
  TempDir dir;
  testing::FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  WmEncoderLibrary library;
};

// Four coloured quadrants fill the region exactly after its even rounding;
// a white line sits in the odd column and row the rounding leaves out.
TEST_F(ScreenEncoderTest, RegionFileShowsTheScreenPixelsOfTheEvenRoundedRegion) {
  struct Quadrant {
    int X, Y, Red, Green, Blue;
  };
  const Quadrant quadrants[] = {
      {102, 52, 0, 160, 0}, {301, 52, 0, 0, 200}, {102, 201, 230, 230, 0}, {301, 201, 0, 200, 200}};
  const unsigned long white = windows.Pixel(255, 255, 255);
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(101, 51, 400, 1, white, true)));
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(101, 51, 1, 300, white, true)));
  for (const Quadrant& q : quadrants) {
    const unsigned long pixel = windows.Pixel(q.Red, q.Green, q.Blue);
    ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(q.X, q.Y, 199, 149, pixel, true)));
    ASSERT_TRUE(windows.WaitForScreenPixel(q.X + 10, q.Y + 10, pixel));
  }

  const std::string path = dir.File("movie1.wmv");
  auto session = NewSession();
  session->SetCaptureRect(Rect{101, 51, 501, 351});
  ASSERT_EQ(session->Configure(path), 0);
  session->StartEncoding();
  // The region is marked on the screen, just outside it, for a moment.
  const unsigned long flash = windows.Pixel(255, 0, 0);
  EXPECT_TRUE(windows.WaitForScreenPixel(99, 49, flash)) << "no mark around the region";
  RecordFor(1500);
  session.reset();
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(windows.WaitForScreenPixel(99, 49, windows.ScreenPixel(90, 40)))
      << "the mark stays on the screen";

  const testing::VideoProbe probe = ProbeVideo(path);
  ASSERT_TRUE(probe.Ok);
  EXPECT_EQ(probe.CodecName, "wmv2");
  EXPECT_EQ(probe.Width, 398);
  EXPECT_EQ(probe.Height, 298);
  const auto frames = DecodeFrames(path, 398, 298);
  ASSERT_GE(frames.size(), 3u);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const auto& frame = frames[f];
    auto at = [&](int x, int y) { return frame[static_cast<std::size_t>(y) * 398 + x]; };
    for (const Quadrant& q : quadrants) {
      const int x = q.X - 102 + 100, y = q.Y - 52 + 75;
      EXPECT_TRUE(Near(at(x, y), q.Red, q.Green, q.Blue))
          << "frame " << f << " at (" << x << ", " << y << ") is " << std::hex << at(x, y);
    }
    // Neither the white line outside the rounded region nor the red mark
    // around it reaches the picture.
    EXPECT_TRUE(Near(at(0, 40), 0, 160, 0, 40)) << "frame " << f << std::hex << " " << at(0, 40);
    EXPECT_TRUE(Near(at(40, 0), 0, 160, 0, 40)) << "frame " << f << std::hex << " " << at(40, 0);
    EXPECT_TRUE(Near(at(397, 297), 0, 200, 200, 40)) << "frame " << f;
  }
}

// The quantiser the encoder uses for the screen profile keeps text legible:
// a region full of text decodes at 30 dB PSNR or better against the screen.
TEST_F(ScreenEncoderTest, ScreenTextDecodesAtThirtyDecibelsOrBetter) {
  const int x0 = 200, y0 = 100, width = 640, height = 360;
  const Window page =
      windows.CreateSolid(x0, y0, width, height, windows.Pixel(255, 255, 255), true);
  ASSERT_TRUE(windows.MapAndWait(page));
  Display* display = windows.display();
  GC gc = XCreateGC(display, page, 0, nullptr);
  // Dark ink: thin coloured strokes are bounded by the 4:2:0 chroma of the
  // codec, not by its quantiser.
  const unsigned long inks[] = {windows.Pixel(0, 0, 0), windows.Pixel(60, 60, 60),
                                windows.Pixel(0, 0, 90)};
  const std::string line = "The quick brown fox jumps over the lazy dog 0123456789 ()[]{} +-*/";
  for (int row = 0; row < 26; ++row) {
    XSetForeground(display, gc, inks[row % 3]);
    XDrawString(display, page, gc, 6, 14 + row * 13, line.c_str(), static_cast<int>(line.size()));
  }
  XFreeGC(display, gc);
  windows.Sync();
  XImage* reference = XGetImage(display, windows.root(), x0, y0, width, height, AllPlanes, ZPixmap);
  ASSERT_NE(reference, nullptr);

  const std::string path = dir.File("text.wmv");
  auto session = NewSession();
  session->SetCaptureRect(Rect{x0, y0, x0 + width, y0 + height});
  ASSERT_EQ(session->Configure(path), 0);
  session->StartEncoding();
  RecordFor(1000);
  session.reset();

  const auto frames = DecodeFrames(path, width, height);
  ASSERT_FALSE(frames.empty());
  const auto& frame = frames.back();
  double squared = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long expected = XGetPixel(reference, x, y);
      const std::uint32_t got = frame[static_cast<std::size_t>(y) * width + x];
      for (int shift : {16, 8, 0}) {
        const double d = Channel(got, shift) - static_cast<double>((expected >> shift) & 0xFF);
        squared += d * d;
      }
    }
  }
  XDestroyImage(reference);
  const double mse = squared / (3.0 * width * height);
  const double psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
  RecordProperty("psnr_db", std::to_string(psnr));
  EXPECT_GE(psnr, 30.0);
}

// Pausing shifts the clock: the frames after the resume follow the ones
// before it without a jump in time, and show what the screen shows then.
TEST_F(ScreenEncoderTest, PauseAndResumeGiveOneContinuousFile) {
  const Window patch = windows.CreateSolid(300, 300, 200, 200, windows.Pixel(0, 0, 200), true);
  ASSERT_TRUE(windows.MapAndWait(patch));
  ASSERT_TRUE(windows.WaitForScreenPixel(310, 310, windows.Pixel(0, 0, 200)));
  const std::string path = dir.File("paused.wmv");
  auto session = NewSession();
  session->SetCaptureRect(Rect{300, 300, 500, 500});
  ASSERT_EQ(session->Configure(path), 0);
  session->StartEncoding();
  RecordFor(1000);
  session->PauseEncoding();
  const unsigned long yellow = windows.Pixel(230, 230, 0);
  const Window cover = windows.CreateSolid(300, 300, 200, 200, yellow, true);
  ASSERT_TRUE(windows.MapAndWait(cover));
  ASSERT_TRUE(windows.WaitForScreenPixel(310, 310, yellow));
  const int pauseMs = 3000;
  RecordFor(pauseMs);
  session->StartEncoding();
  RecordFor(1000);
  session.reset();
  EXPECT_TRUE(boxes.shown.empty());

  const std::vector<double> times = testing::VideoFrameTimes(path);
  const auto frames = DecodeFrames(path, 200, 200);
  ASSERT_GE(times.size(), 4u);
  ASSERT_EQ(times.size(), frames.size());
  double largestStep = 0;
  for (std::size_t i = 1; i < times.size(); ++i) {
    largestStep = std::max(largestStep, times[i] - times[i - 1]);
  }
  EXPECT_LT(largestStep, pauseMs / 1000.0) << "the pause left a gap in the movie";
  EXPECT_TRUE(Near(frames.front()[100 * 200 + 100], 0, 0, 200));
  EXPECT_TRUE(Near(frames.back()[100 * 200 + 100], 230, 230, 0));
}

// Without a valid rectangle the encoder is told to take the whole screen.
TEST_F(ScreenEncoderTest, SessionWithoutRectangleCapturesTheWholeScreen) {
  const std::string path = dir.File("screen.wmv");
  auto session = NewSession();
  session->SetCaptureRect(Rect{50, 50, 10, 100});  // inverted: ignored
  ASSERT_TRUE(session->WholeScreen());
  ASSERT_EQ(session->Configure(path), 0);
  session->StartEncoding();
  RecordFor(700);
  session.reset();
  const testing::VideoProbe probe = ProbeVideo(path);
  ASSERT_TRUE(probe.Ok);
  EXPECT_EQ(probe.Width, windows.ScreenWidth());
  EXPECT_EQ(probe.Height, windows.ScreenHeight());
  EXPECT_GE(probe.FrameCount, 1);
}

// The X server going away under a running encoder: capturing stops, the
// program goes on, and stopping the session still finishes a readable file
// with the frames taken before.
TEST_F(ScreenEncoderTest, XServerClosingStopsCaptureCleanly) {
  testing::XvfbServer server("320x240x24");
  ASSERT_FALSE(server.Name().empty()) << "the second X server did not start";
  const std::string display = server.Name();
  const std::string own = std::getenv("DISPLAY");
  setenv("DISPLAY", display.c_str(), 1);
  const std::string path = dir.File("lost.wmv");
  auto session = NewSession();
  const std::int32_t configured = session->Configure(path);
  setenv("DISPLAY", own.c_str(), 1);
  ASSERT_EQ(configured, 0);
  session->StartEncoding();
  RecordFor(1000);
  server.Kill();
  RecordFor(500);
  session->PauseEncoding();
  session->StartEncoding();
  session.reset();
  EXPECT_TRUE(boxes.shown.empty());
  const testing::VideoProbe probe = ProbeVideo(path);
  ASSERT_TRUE(probe.Ok);
  EXPECT_EQ(probe.Width, 320);
  EXPECT_GE(probe.FrameCount, 1);
}

}  // namespace
}  // namespace framory
