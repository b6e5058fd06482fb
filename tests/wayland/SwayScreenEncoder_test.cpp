// session: sway
// The screen encoder's file (output type 19) in a Wayland session: the real
// encoder component takes its pictures from the compositor's screen copies,
// as the program sets it up once that source is in use. Sway runs without
// XWayland here, so an encoder that still grabbed through X11 could not even
// start. The background is red, then the test changes it to blue; the file,
// decoded by ffmpeg, must show red pictures and then blue ones, of sway's
// size, and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "capture/StreamScreen.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/encoder/WmEncoderLibrary.h"
#include "platform/wayland/WlrScreenCopy.h"
#include "support/MediaProbe.h"
#include "support/RecorderFakes.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"
#include "wayland/StreamTestSupport.h"
#include "writers/EncoderSession.h"

namespace framory {
namespace {

using testing::WaitUntil;

std::string Output() {
  const char* name = std::getenv("FRAMORY_SWAY_OUTPUT");
  return name != nullptr ? name : "HEADLESS-1";
}

void SetBackground(std::uint32_t rgb) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%06x", rgb);
  testing::RunCommand("swaymsg output " + Output() + " bg '#" + hex + "' solid_color");
}

bool StreamShows(StreamScreen& screen, std::uint32_t rgb) {
  std::vector<std::uint32_t> pixel;
  return screen.CopyNewest(320, 240, 1, 1, &pixel) && (pixel[0] & 0xFFFFFF) == rgb;
}

// Within what WMV's lossy coding keeps of a flat colour.
bool Near(std::uint32_t pixel, std::uint32_t rgb) {
  for (int shift : {0, 8, 16}) {
    const int a = static_cast<int>((pixel >> shift) & 0xFF);
    const int b = static_cast<int>((rgb >> shift) & 0xFF);
    if (std::abs(a - b) > 24) return false;
  }
  return true;
}

TEST(SwayScreenEncoder, TheEncodersFileShowsSwaysBackgroundBeforeAndAfterItsChange) {
  constexpr std::uint32_t kRed = 0xC81E28, kBlue = 0x0A14E6;
  StreamScreen screen;
  WlrScreenCopy copies(screen);
  copies.SetDrawPointer(false);
  ASSERT_TRUE(copies.Open(Output())) << copies.Error();
  ASSERT_TRUE(copies.Start());
  SetBackground(kRed);
  ASSERT_TRUE(WaitUntil([&] { return StreamShows(screen, kRed) || copies.Failed(); }))
      << "the screen copies never brought the red background";
  ASSERT_FALSE(copies.Failed()) << copies.Error();

  testing::TempDir dir;
  testing::FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  WmEncoderLibrary library;
  library.SetScreenStream(&screen);
  const std::string path = dir.File("movie0.wmv");
  auto session = std::make_unique<EncoderSession>(library, reports);
  session->SetFramesPerSecond(10.0);
  session->SetRecordAudio(false);
  // The whole output, as the desktop target gives it in the stream's pixels.
  session->SetCaptureRect(Rect{0, 0, 640, 480});
  ASSERT_EQ(session->Configure(path), 0) << (boxes.shown.empty() ? "" : boxes.shown[0].text);
  session->StartEncoding();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  SetBackground(kBlue);
  ASSERT_TRUE(WaitUntil([&] { return StreamShows(screen, kBlue) || copies.Failed(); }))
      << "the screen copies never brought the blue background";
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  session.reset();
  copies.Stop();
  EXPECT_TRUE(boxes.shown.empty()) << "the encoder reported a failure";

  const testing::VideoProbe probe = testing::ProbeVideo(path);
  ASSERT_TRUE(probe.Ok) << "ffprobe reads the file";
  EXPECT_EQ(probe.CodecName, "wmv2");
  EXPECT_EQ(probe.Width, 640);
  EXPECT_EQ(probe.Height, 480);
  const auto frames = testing::DecodeFrames(path, 640, 480);
  ASSERT_GE(frames.size(), 4u);
  // Red first, blue last, and once blue never red again: each picture is
  // one of the two whole, at its middle and its corners.
  bool blueSeen = false;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const auto& frame = frames[f];
    const std::uint32_t points[] = {frame[0], frame[639], frame[240 * 640 + 320], frame[479 * 640],
                                    frame.back()};
    const bool red = std::all_of(std::begin(points), std::end(points),
                                 [&](std::uint32_t p) { return Near(p, kRed); });
    const bool blue = std::all_of(std::begin(points), std::end(points),
                                  [&](std::uint32_t p) { return Near(p, kBlue); });
    EXPECT_TRUE(red || blue) << "picture " << f << " shows neither background: " << std::hex
                             << points[2];
    EXPECT_FALSE(red && blueSeen) << "picture " << f << " is red again after blue";
    blueSeen = blueSeen || blue;
  }
  EXPECT_TRUE(Near(frames.front()[240 * 640 + 320], kRed)) << "the first picture is red";
  EXPECT_TRUE(Near(frames.back()[240 * 640 + 320], kBlue)) << "the last picture is blue";
}

}  // namespace
}  // namespace framory
