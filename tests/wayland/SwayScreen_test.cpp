// session: sway
// Recording a real Wayland desktop: a headless sway whose background colour
// the test changes with swaymsg, read through the compositor's screen copies
// and recorded by the frame grabber, the clip session and the real writers.
// When a colour is on screen is learnt from grim, which copies the screen
// independently of the code under test; each shot is one frame slot of the
// clip (its clock moves one period a shot), so which pictures must show which
// colour follows from the shots taken, not from the machine's speed.
//
//  - stills: PNG pictures taken after each change equal the colour;
//  - a 10 s clip (100 shots, one every 100 ms) over three colours: every
//    frame slot shows the colour that was on screen when it was shot, and
//    the still stretches between the changes are stored as repeats;
//  - the output's mode changed mid-clip (swaymsg): the clip of the old size
//    ends and the next one has the new size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Settings.h"
#include "capture/CaptureTarget.h"
#include "capture/ClipSession.h"
#include "capture/FrameGrabber.h"
#include "capture/OutputNaming.h"
#include "capture/StillImageWriter.h"
#include "capture/StreamScreen.h"
#include "capture/StreamSizeCut.h"
#include "capture/StreamWindowSystem.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/wayland/WlrScreenCopy.h"
#include "support/ClipSessionFakes.h"
#include "support/ImageDecode.h"
#include "support/MediaProbe.h"
#include "support/RecorderFakes.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"
#include "wayland/StreamTestSupport.h"
#include "writers/AviFileApi.h"
#include "writers/MovieWriterFactory.h"

namespace framory {
namespace {

using testing::WaitUntil;

struct Colour {
  int r, g, b;
};

std::string Output() {
  const char* name = std::getenv("FRAMORY_SWAY_OUTPUT");
  return name != nullptr ? name : "HEADLESS-1";
}

void SetBackground(const Colour& c) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02x%02x%02x", c.r, c.g, c.b);
  testing::RunCommand("swaymsg output " + Output() + " bg '#" + hex + "' solid_color");
}

// The colour grim reads at (x, y) of the output: the compositor's own view.
bool GrimShows(int x, int y, const Colour& c) {
  const std::string ppm =
      testing::RunCommand("grim -t ppm -o " + Output() + " -g '" + std::to_string(x) + "," +
                          std::to_string(y) + " 1x1' -");
  // "P6\n1 1\n255\n" followed by three bytes.
  if (ppm.size() < 3) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(ppm.data() + ppm.size() - 3);
  return p[0] == c.r && p[1] == c.g && p[2] == c.b;
}

// The newest picture the screen copies brought shows `c` at (x, y).
bool StreamShows(StreamScreen& screen, int x, int y, const Colour& c) {
  Frame frame;
  if (!screen.Grab(StreamScreen::kStreamWindow, x, y, 1, 1, &frame)) return false;
  std::uint32_t v;
  std::memcpy(&v, frame.Pixels, 4);
  return (v & 0xFFFFFF) == static_cast<std::uint32_t>(c.r << 16 | c.g << 8 | c.b);
}

class ShotClock : public MonotonicClock {
 public:
  std::int64_t NowNanoseconds() const override { return now; }
  std::int64_t now = 1'000'000'000;
};

class SwayScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.SetProjectDirectory(dir.Path() + "/");
    settings.SetProjectName("sway");
    std::filesystem::create_directories(settings.ProjectFolder());
    settings.SetTimerValue(100);
    settings.SetTakeShotOnTimer(true);
    settings.SetPutCursorInBitmap(false);
    SetCaptureFocus(settings, CaptureFocus::Desktop);
    links.Clip = &session;
    links.Stills = &stills;
    links.Scheduler = &scheduler;
    grabber.SetChangeWatch(&screen);
    copies.SetDrawPointer(false);
    ASSERT_TRUE(copies.Open(Output())) << copies.Error();
    ASSERT_TRUE(copies.Start());
    ASSERT_TRUE(WaitUntil([&] { return screen.Width() > 0 || copies.Failed(); }))
        << "no screen copy came";
    ASSERT_FALSE(copies.Failed()) << copies.Error();
  }

  // Puts colour `c` on screen and waits until both grim and the stream
  // show it.
  void Show(const Colour& c) {
    SetBackground(c);
    ASSERT_TRUE(WaitUntil([&] { return GrimShows(320, 240, c); })) << "sway never showed it";
    ASSERT_TRUE(WaitUntil([&] { return StreamShows(screen, 320, 240, c); }))
        << "the screen copies never brought it";
  }

  void Shoot(int count) {
    for (int i = 0; i < count; ++i) {
      grabber.TakeShot();
      ++shots;
      // The desktop runs on meanwhile, as between timer ticks.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      clock.now += 100'000'000;
    }
  }

  testing::TempDir dir;
  Settings settings;
  OutputNaming naming{settings};
  StillImageWriter stills{naming};
  testing::FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  testing::FakeClipHost host;
  std::unique_ptr<AviFileLibrary> avi = CreateAviFileLibrary();
  MovieWriterFactory factory{avi.get(), &reports, 1920, 1080};
  ShotClock clock;
  ClipSession session{settings, naming, factory, host, &clock};
  struct Periodic : ShotScheduler {
    bool PeriodicTimerRunning() const override { return true; }
    void ScheduleDelayedShot(std::int32_t) override {}
  } scheduler;
  StreamScreen screen;
  StreamWindowSystem windows{screen};
  CaptureLinks links;
  CaptureTarget target{settings, windows, links};
  FrameGrabber grabber{settings, screen, target, links};
  WlrScreenCopy copies{screen};
  int shots = 0;
};

TEST_F(SwayScreenTest, StillsEqualTheBackgroundAfterEachChange) {
  settings.SetOutputType(OutputTypes::Png);
  const Colour colours[] = {{200, 30, 40}, {20, 180, 60}, {10, 20, 230}};
  for (int i = 0; i < 3; ++i) {
    Show(colours[i]);
    grabber.TakeShot();
  }
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("picture " + std::to_string(i));
    testing::RgbImage image;
    testing::PngFacts facts;
    std::string error;
    ASSERT_TRUE(testing::DecodePng(settings.ProjectFolder() + "/pic" + std::to_string(i) + ".png",
                                   &image, &facts, &error))
        << error;
    ASSERT_EQ(image.Width, 640);
    ASSERT_EQ(image.Height, 480);
    int wrong = 0;
    for (int y = 0; y < image.Height; y += 7) {
      for (int x = 0; x < image.Width; x += 7) {
        const std::uint8_t* p = image.At(x, y);
        if (p[0] != colours[i].r || p[1] != colours[i].g || p[2] != colours[i].b) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << "pixels not of the background colour";
  }
}

TEST_F(SwayScreenTest, ATenSecondClipShowsEachColourFromItsChangeOnAndStoresStillnessAsRepeats) {
  settings.SetOutputType(OutputTypes::AviUncompressed);
  Show({200, 30, 40});
  Shoot(30);
  Show({20, 180, 60});
  Shoot(30);
  Show({10, 20, 230});
  Shoot(40);
  session.EndClip();
  ASSERT_FALSE(host.paused) << "no writer failure";

  const std::string path = settings.ProjectFolder() + "/movie0.avi";
  // The index has one chunk per frame slot: a picture, or empty for a
  // repeat of the one before. The stored pictures, decoded by ffmpeg, fill
  // the slots in order.
  const std::vector<std::uint32_t> chunks = testing::AviIndexChunkSizes(path);
  ASSERT_EQ(chunks.size(), 100u) << "one frame slot per shot";
  const auto stored = testing::DecodeFrames(path, 640, 480);
  std::size_t storedCount = 0;
  for (const std::uint32_t size : chunks) storedCount += size > 0 ? 1 : 0;
  ASSERT_EQ(stored.size(), storedCount) << "every stored picture decodes";
  std::printf("  %zu of %zu slots stored as pictures\n", storedCount, chunks.size());
  EXPECT_LT(storedCount, 10u) << "a still screen is stored as repeats";
  ASSERT_GT(chunks[0], 0u) << "the clip starts with a picture";
  std::size_t shown = 0;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (i > 0 && chunks[i] > 0) ++shown;
    const std::vector<std::uint32_t>& picture = stored[shown];
    const std::uint32_t expected = i < 30 ? 0xC81E28u : i < 60 ? 0x14B43Cu : 0x0A14E6u;
    EXPECT_EQ(picture[0], expected) << "slot " << i;
    EXPECT_EQ(picture[240 * 640 + 320], expected) << "slot " << i;
    EXPECT_EQ(picture.back(), expected) << "slot " << i;
  }
}

TEST_F(SwayScreenTest, AModeChangeEndsTheClipAndTheNextHasTheNewSize) {
  settings.SetOutputType(OutputTypes::AviUncompressed);
  StreamSizeCut cut(screen, session, [this] { session.EndClip(); });
  const auto shootCut = [&](int count) {
    for (int i = 0; i < count; ++i) {
      cut.BeforeShot();
      grabber.TakeShot();
      cut.AfterShot();
    }
  };
  Show({200, 30, 40});
  shootCut(10);
  testing::RunCommand("swaymsg output " + Output() + " mode 800x600");
  ASSERT_TRUE(WaitUntil([&] { return screen.Width() == 800 && screen.Height() == 600; }))
      << "the screen copies never brought the new size";
  Show({10, 20, 230});
  shootCut(10);
  session.EndClip();
  ASSERT_FALSE(host.paused) << "no writer failure";
  EXPECT_FALSE(copies.Failed()) << copies.Error();

  const testing::VideoProbe first = testing::ProbeVideo(settings.ProjectFolder() + "/movie0.avi");
  const testing::VideoProbe second = testing::ProbeVideo(settings.ProjectFolder() + "/movie1.avi");
  ASSERT_TRUE(first.Ok && second.Ok) << "two clips";
  EXPECT_EQ(first.Width, 640);
  EXPECT_EQ(first.Height, 480);
  EXPECT_EQ(second.Width, 800);
  EXPECT_EQ(second.Height, 600);
  EXPECT_EQ(testing::AviIndexChunkSizes(settings.ProjectFolder() + "/movie0.avi").size(), 10u);
  EXPECT_EQ(testing::AviIndexChunkSizes(settings.ProjectFolder() + "/movie1.avi").size(), 10u);
  const auto blue = testing::DecodeFrames(settings.ProjectFolder() + "/movie1.avi", 800, 600);
  ASSERT_FALSE(blue.empty());
  EXPECT_EQ(blue.front().back(), 0x0A14E6u) << "the new size's whole picture";
}

}  // namespace
}  // namespace framory
