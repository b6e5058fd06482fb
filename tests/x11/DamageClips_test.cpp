// Movie clips of a real Xvfb screen with screen-change tracking on: the
// frame grabber, the DAMAGE/XFixes watch, the clip session and the real
// writers, shot by hand once per timer period as the periodic timer would.
// The files are decoded by ffmpeg at the clip's constant frame rate, so a
// repeat shows as a copy of the frame before it. Each shot is one frame
// slot (the clip's clock moves one period a shot), so the expected pictures
// follow from the shots taken, not from how fast the machine ran.
//
//  - a still screen: one slot per shot, repeats included, each equal to
//    the screen;
//  - a window changing colour, another mapped: the change is in the first
//    frame shot after it and in no frame shot before it;
//  - the pointer moved by XTest over a still screen: drawn at each place in
//    the frames that follow and gone from every place it left.
#include <gtest/gtest.h>
#include <unistd.h>

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/Settings.h"
#include "capture/CaptureTarget.h"
#include "capture/ClipSession.h"
#include "capture/FrameGrabber.h"
#include "capture/OutputNaming.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/x11/X11ScreenChanges.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "platform/x11/X11WindowSystem.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/ProgramLog.h"
#include "support/RecorderFakes.h"
#include "support/BuiltQuickTime.h"
#include "support/TempDir.h"
#include "support/X11TestWindows.h"
#include "writers/AviFileApi.h"
#include "writers/MovieWriterFactory.h"
#include "writers/WmFormatApi.h"

namespace framory {
namespace {

using testing::FakeBoxes;
using testing::FakeClipHost;
using testing::TempDir;

constexpr int kTimerValue = 40;  // 25 frames a second
// The captured area: 320 × 240 at (200, 150), corners inclusive.
constexpr int kLeft = 200, kTop = 150, kWidth = 320, kHeight = 240;

// The output types that store an unchanged screen as a repeat. (Type 13,
// AVI with WMV3, has no encoder in FFmpeg and starts no clip.)
const std::vector<std::int32_t> kRepeatingTypes = {
    OutputTypes::WmvV80_384Video, OutputTypes::QuickTimeMov, OutputTypes::AviMpg4,
    OutputTypes::AviUncompressed, OutputTypes::AviDivx,      OutputTypes::AviXvid,
};

// The clip's clock: the periodic timer fires exactly once a period, so each
// shot has a frame slot of its own.
class ShotClock : public MonotonicClock {
 public:
  std::int64_t NowNanoseconds() const override { return now; }
  std::int64_t now = 1'000'000'000;
};

// Points the QuickTime bridge at the runtime built with the tests.
void UseBuiltRuntime() {
#ifdef QUICKTIME_RUNTIME_DIR
  testing::UseBuiltQuickTime(QUICKTIME_RUNTIME_DIR);
#endif
}

using Picture = std::vector<std::uint32_t>;  // 0x00RRGGBB, rows top-down

// The clip as one picture per frame slot, from the stored pictures and
// their times: a picture fills its slot and every slot up to the next one
// (or up to the clip's duration), as a player shows it. Worked out here from
// the timestamps rather than by ffmpeg's rate conversion, whose guess at the
// length of the last picture differs between containers.
std::vector<Picture> PicturesBySlot(const std::string& path, double duration) {
  std::vector<double> times;
  testing::NoteProgram("ffprobe");
  FILE* pipe = popen(("ffprobe -v error -select_streams v:0 -show_entries "
                      "frame=best_effort_timestamp_time -of csv=p=0 '" +
                      path + "' 2>/dev/null")
                         .c_str(),
                     "r");
  if (pipe == nullptr) return {};
  char line[64];
  while (std::fgets(line, sizeof line, pipe) != nullptr) times.push_back(std::atof(line));
  pclose(pipe);
  const auto stored = testing::DecodeFrames(path, kWidth, kHeight);
  if (stored.size() != times.size() || stored.empty()) {
    ADD_FAILURE() << stored.size() << " pictures decoded, " << times.size() << " times";
    return {};
  }
  const double period = kTimerValue / 1000.0;
  const auto slotOf = [&](double t) { return static_cast<std::size_t>(t / period + 0.5); };
  std::vector<Picture> slots;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const std::size_t end = i + 1 < stored.size() ? slotOf(times[i + 1]) : slotOf(duration);
    EXPECT_EQ(slotOf(times[i]), slots.size()) << "picture " << i << " at " << times[i] << " s";
    const std::size_t upTo = std::max(end, slots.size() + 1);
    while (slots.size() < upTo) slots.push_back(stored[i]);
  }
  return slots;
}

struct Colour {
  int r, g, b;
};

// The mean colour of the picture's rectangle [x0, x1) × [y0, y1).
Colour Mean(const Picture& p, int x0, int y0, int x1, int y1) {
  long r = 0, g = 0, b = 0, n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const std::uint32_t v = p[static_cast<std::size_t>(y) * kWidth + x];
      r += (v >> 16) & 0xFF;
      g += (v >> 8) & 0xFF;
      b += v & 0xFF;
      ++n;
    }
  }
  return n == 0 ? Colour{-1, -1, -1} : Colour{int(r / n), int(g / n), int(b / n)};
}

// Within what lossy coding leaves of a flat colour.
bool Near(const Colour& c, int r, int g, int b) {
  return std::abs(c.r - r) <= 24 && std::abs(c.g - g) <= 24 && std::abs(c.b - b) <= 24;
}

// The largest difference of one channel between a pixel of the picture's
// rectangle and the flat colour: a pointer left behind shows here.
int LargestDeviation(const Picture& p, int x0, int y0, int x1, int y1, int r, int g, int b) {
  int worst = 0;
  for (int y = std::max(y0, 0); y < std::min(y1, kHeight); ++y) {
    for (int x = std::max(x0, 0); x < std::min(x1, kWidth); ++x) {
      const std::uint32_t v = p[static_cast<std::size_t>(y) * kWidth + x];
      worst = std::max({worst, std::abs(int((v >> 16) & 0xFF) - r),
                        std::abs(int((v >> 8) & 0xFF) - g), std::abs(int(v & 0xFF) - b)});
    }
  }
  return worst;
}

class DamageClipsTest : public ::testing::TestWithParam<std::int32_t> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(windows.Valid() && system.Valid() && screen.Valid());
    ASSERT_TRUE(changes.Tracking()) << "Xvfb has DAMAGE and XFixes";
    UseBuiltRuntime();
    settings.SetProjectDirectory(dir.Path() + "/");
    settings.SetProjectName("clips");
    std::filesystem::create_directories(settings.ProjectFolder());
    settings.SetOutputType(GetParam());
    settings.SetTimerValue(kTimerValue);
    settings.SetTakeShotOnTimer(true);
    settings.SetPutCursorInBitmap(false);
    settings.SetUseDesktopWindow(false);
    settings.SetUseMainAppWindow(false);
    settings.SetUseArea(true);
    settings.SetHasMarkUserArea(true);
    settings.SetUserArea(Rect{kLeft, kTop, kLeft + kWidth - 1, kTop + kHeight - 1});
    factory.SetWmvLibrary(wmv.get());
    links.Clip = &session;
    links.Scheduler = &scheduler;
    grabber.SetChangeWatch(&changes);

    // A grey backdrop under the whole area, the pointer far from it.
    backdrop = windows.CreateSolid(kLeft - 20, kTop - 20, kWidth + 40, kHeight + 40,
                                   windows.Pixel(96, 96, 96), true);
    ASSERT_TRUE(windows.MapAndWait(backdrop));
    MovePointer(1900, 1060);
  }

  // One shot a timer period.
  void Shoot(int count) {
    for (int i = 0; i < count; ++i) {
      grabber.TakeShot();
      ++shots_;
      // The server keeps running meanwhile, as it would between ticks.
      usleep(kTimerValue * 1000);
      clock.now += std::int64_t{kTimerValue} * 1'000'000;
    }
  }

  // Ends the clip and decodes it.
  std::vector<Picture> Finish() {
    session.EndClip();
    EXPECT_FALSE(host.paused) << "no writer failure";
    for (const auto& entry : std::filesystem::directory_iterator(settings.ProjectFolder())) {
      if (entry.path().filename().string().rfind("movie0.", 0) == 0) path = entry.path();
    }
    EXPECT_FALSE(path.empty()) << "the clip was written";
    if (path.empty()) return {};
    // The clip lasts one frame period per shot. (ASF stores no duration with
    // its last picture, so a decoder left to guess would hold it longer.)
    const std::string duration = testing::ProbeStreamField(path, "duration");
    const double seconds = std::atof(duration.c_str());
    EXPECT_NEAR(seconds, shots_ * kTimerValue / 1000.0, kTimerValue / 2000.0)
        << "stream duration " << duration;
    return PicturesBySlot(path, seconds);
  }

  void MovePointer(int x, int y) {
    XTestFakeMotionEvent(windows.display(), -1, x, y, 0);
    windows.Sync();
    ASSERT_TRUE(X11TestWindows::WaitFor(
        [&] {
          const Point at = system.CursorPos();
          return at.x == x && at.y == y;
        },
        5000));
  }

  void Repaint(Window window, int r, int g, int b, int x, int y) {
    const unsigned long pixel = windows.Pixel(r, g, b);
    XSetWindowBackground(windows.display(), window, pixel);
    XClearWindow(windows.display(), window);
    windows.Sync();
    ASSERT_TRUE(windows.WaitForScreenPixel(x, y, pixel));
  }

  X11TestWindows windows;
  X11WindowSystem system;
  X11ScreenGrabber screen;
  struct IdleWatch : SocketWatch {
    void Watch(int, std::function<void()>) override {}
    void Unwatch(int) override {}
  } sockets;
  X11ScreenChanges changes{screen.Connection(), sockets};
  TempDir dir;
  Settings settings;
  OutputNaming naming{settings};
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  FakeClipHost host;
  std::unique_ptr<AviFileLibrary> avi = CreateAviFileLibrary();
  std::unique_ptr<WmFormatLibrary> wmv = CreateWmFormatLibrary();
  MovieWriterFactory factory{avi.get(), &reports, 1920, 1080};
  ShotClock clock;
  ClipSession session{settings, naming, factory, host, &clock};
  struct NoScheduler : ShotScheduler {
    bool PeriodicTimerRunning() const override { return true; }
    void ScheduleDelayedShot(std::int32_t) override {}
  } scheduler;
  CaptureLinks links;
  CaptureTarget target{settings, system, links};
  FrameGrabber grabber{settings, screen, target, links};
  Window backdrop = 0;
  std::string path;
  int shots_ = 0;
};

TEST_P(DamageClipsTest, AStillScreenGivesOneFramePerShotEachEqualToTheScreen) {
  const Window red =
      windows.CreateSolid(kLeft + 30, kTop + 40, 60, 50, windows.Pixel(220, 0, 0), true);
  const Window blue =
      windows.CreateSolid(kLeft + 200, kTop + 120, 80, 70, windows.Pixel(0, 0, 230), true);
  ASSERT_TRUE(windows.MapAndWait(red) && windows.MapAndWait(blue));
  ASSERT_TRUE(windows.WaitForScreenPixel(kLeft + 240, kTop + 150, windows.Pixel(0, 0, 230)));

  constexpr int kShots = 125;  // five seconds at 25 frames a second
  Shoot(kShots);
  const std::vector<Picture> pictures = Finish();
  const testing::ContainerProbe probe = testing::ProbeContainer(path);
  std::printf("  %zu pictures decoded from %zu stored\n", pictures.size(),
              probe.PacketTimes.size());
  ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kShots)) << "one slot per shot";
  EXPECT_LT(probe.PacketTimes.size(), static_cast<std::size_t>(kShots / 2))
      << "an unchanged screen is stored as repeats";
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const Picture& p = pictures[i];
    ASSERT_TRUE(Near(Mean(p, 35, 45, 85, 85), 220, 0, 0));
    ASSERT_TRUE(Near(Mean(p, 205, 125, 275, 185), 0, 0, 230));
    ASSERT_TRUE(Near(Mean(p, 100, 180, 180, 230), 96, 96, 96));
    ASSERT_TRUE(Near(Mean(p, 0, 0, kWidth, 30), 96, 96, 96));
  }
}

TEST_P(DamageClipsTest, AChangeShowsInTheFirstFrameShotAfterItAndInNoneBefore) {
  const Window box =
      windows.CreateSolid(kLeft + 100, kTop + 80, 40, 40, windows.Pixel(220, 0, 0), true);
  ASSERT_TRUE(windows.MapAndWait(box));
  ASSERT_TRUE(windows.WaitForScreenPixel(kLeft + 110, kTop + 90, windows.Pixel(220, 0, 0)));
  const Window late =
      windows.CreateSolid(kLeft + 250, kTop + 30, 30, 30, windows.Pixel(0, 0, 230), true);

  Shoot(20);
  Repaint(box, 0, 200, 0, kLeft + 110, kTop + 90);
  Shoot(10);
  ASSERT_TRUE(windows.MapAndWait(late));
  ASSERT_TRUE(windows.WaitForScreenPixel(kLeft + 260, kTop + 40, windows.Pixel(0, 0, 230)));
  Shoot(10);

  const std::vector<Picture> pictures = Finish();
  ASSERT_EQ(pictures.size(), 40u);
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const Picture& p = pictures[i];
    const Colour box = Mean(p, 105, 85, 135, 115);
    if (i < 20) {
      EXPECT_TRUE(Near(box, 220, 0, 0)) << "still red: " << box.r << "," << box.g << "," << box.b;
    } else {
      EXPECT_TRUE(Near(box, 0, 200, 0)) << "green: " << box.r << "," << box.g << "," << box.b;
    }
    const Colour corner = Mean(p, 255, 35, 275, 55);
    if (i < 30) {
      EXPECT_TRUE(Near(corner, 96, 96, 96)) << "not mapped yet";
    } else {
      EXPECT_TRUE(Near(corner, 0, 0, 230)) << "mapped";
    }
    EXPECT_TRUE(Near(Mean(p, 0, 150, 90, 240), 96, 96, 96)) << "the rest stays";
  }
}

TEST_P(DamageClipsTest, ThePointerIsDrawnWhereItIsAndLeavesNothingWhereItWas) {
  settings.SetPutCursorInBitmap(true);
  // Over the backdrop the pointer is the block: a red 6 × 4 block at (2, 3)
  // in a blue frame, hot spot at (0, 0).
  XDefineCursor(windows.display(), backdrop, windows.CreateBlockCursor(true, 0, 0));
  windows.Sync();
  const std::array<Point, 4> places = {Point{40, 30}, Point{150, 100}, Point{270, 200},
                                       Point{60, 190}};
  constexpr int kShotsEach = 6;
  for (const Point& at : places) {
    MovePointer(kLeft + at.x, kTop + at.y);
    Shoot(kShotsEach);
  }
  MovePointer(1900, 1060);
  Shoot(kShotsEach);

  const std::vector<Picture> pictures = Finish();
  ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kShotsEach) * (places.size() + 1));
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const Picture& p = pictures[i];
    const std::size_t now = i / kShotsEach;
    for (std::size_t k = 0; k < places.size(); ++k) {
      const Point& at = places[k];
      if (k == now) {
        const Colour block = Mean(p, at.x + 3, at.y + 4, at.x + 7, at.y + 6);
        EXPECT_GT(block.r, 160) << "the pointer's red block at place " << k;
        EXPECT_LT(block.g, 90);
      } else {
        // Where the pointer is not (before it came or after it left), the
        // whole 16 × 16 of its image is the backdrop.
        EXPECT_LT(LargestDeviation(p, at.x, at.y, at.x + 16, at.y + 16, 96, 96, 96), 40)
            << "no pointer at place " << k;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(RepeatingTypes, DamageClipsTest, ::testing::ValuesIn(kRepeatingTypes));

}  // namespace
}  // namespace framory
