// TakeShot end to end on a 24-bit Xvfb screen with openbox: the capture target
// and frame grabber over the X11 window system and screen grabber, with sinks
// that keep a copy of what they receive. Expected pixels come from the test's
// own windows or from an independent XGetImage of the root window.
#include <gtest/gtest.h>

#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/Settings.h"
#include "capture/CaptureTarget.h"
#include "capture/FrameGrabber.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "platform/x11/X11WindowSystem.h"
#include "support/X11TestWindows.h"

namespace framory {
namespace {

struct CopiedFrame {
  int Width = 0, Height = 0, BitsPerPixel = 0;
  std::vector<std::uint32_t> Pixels;  // 24-bit RGB of each pixel
  std::uint32_t At(int x, int y) const { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
};

CopiedFrame Copy(const Frame& frame) {
  CopiedFrame copy{frame.Width, frame.Height, frame.BitsPerPixel, {}};
  if (frame.BitsPerPixel != 32) return copy;
  copy.Pixels.resize(static_cast<std::size_t>(frame.Width) * frame.Height);
  for (int y = 0; y < frame.Height; ++y) {
    for (int x = 0; x < frame.Width; ++x) {
      std::uint32_t pixel;
      std::memcpy(&pixel, frame.Row(y) + 4 * x, 4);
      copy.Pixels[static_cast<std::size_t>(y) * frame.Width + x] = pixel & 0xFFFFFF;
    }
  }
  return copy;
}

class CopyingStills : public StillImageSink {
 public:
  void SaveStill(const Frame& frame, const Palette* palette) override {
    frames.push_back(Copy(frame));
    hadPalette = palette != nullptr;
  }
  bool HasLastResult() const override { return !frames.empty(); }
  std::vector<CopiedFrame> frames;
  bool hadPalette = false;
};

class CopyingClip : public MovieFrameSink {
 public:
  void DeliverMovieFrame(const Frame* frame, WindowHandle source, const Rect&) override {
    if (frame != nullptr) frames.push_back(Copy(*frame));
    sources.push_back(source);
  }
  bool ClipOpen() const override { return false; }
  std::int32_t MovieWidth() const override { return 0; }
  std::int32_t MovieHeight() const override { return 0; }
  std::vector<CopiedFrame> frames;
  std::vector<WindowHandle> sources;
};

class RecordingScheduler : public ShotScheduler {
 public:
  bool PeriodicTimerRunning() const override { return false; }
  void ScheduleDelayedShot(std::int32_t milliseconds) override { delays.push_back(milliseconds); }
  std::vector<std::int32_t> delays;
};

class TakeShotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(windows.Valid() && system.Valid() && screen.Valid());
    settings.SetOutputType(OutputTypes::Bmp);
    settings.SetPutCursorInBitmap(false);
    links.Stills = &stills;
    links.Scheduler = &scheduler;
    // Park the pointer in a corner, away from the windows under test.
    system.SetCursorPos(Point{1919, 1079});
  }

  void Target(bool desktop, bool main, bool foreground, bool inside, bool area) {
    settings.SetUseDesktopWindow(desktop);
    settings.SetUseMainAppWindow(main);
    settings.SetUseForegrounWindow(foreground);
    settings.SetUseForegrounWindowInside(inside);
    settings.SetUseArea(area);
  }

  // One shot; the copy of the frame it produced, or an empty frame.
  CopiedFrame Shot() {
    const std::size_t before = stills.frames.size();
    grabber.TakeShot();
    if (stills.frames.size() == before) return {};
    return stills.frames.back();
  }

  // The screen rectangle read independently of the code under test.
  CopiedFrame ScreenRect(int x, int y, int width, int height) {
    CopiedFrame copy{width, height, 32, {}};
    XImage* image =
        XGetImage(windows.display(), windows.root(), x, y, width, height, AllPlanes, ZPixmap);
    if (image == nullptr) return copy;
    for (int row = 0; row < height; ++row)
      for (int column = 0; column < width; ++column)
        copy.Pixels.push_back(XGetPixel(image, column, row) & 0xFFFFFF);
    XDestroyImage(image);
    return copy;
  }

  // Takes shots until one equals the screen at the window's outer frame (the
  // window manager repaints its decorations on its own schedule).
  bool ShotMatchesFrameOf(Window window, CopiedFrame* shot) {
    return X11TestWindows::WaitFor([&] {
      int x = 0, y = 0, width = 0, height = 0;
      if (!windows.FrameGeometry(window, &x, &y, &width, &height)) return false;
      *shot = Shot();
      return shot->Width == width && shot->Height == height &&
             shot->Pixels == ScreenRect(x, y, width, height).Pixels;
    });
  }

  X11TestWindows windows;
  X11WindowSystem system;
  X11ScreenGrabber screen;
  Settings settings;
  CopyingStills stills;
  RecordingScheduler scheduler;
  CaptureLinks links;
  CaptureTarget target{settings, system, links};
  FrameGrabber grabber{settings, screen, target, links};
};

TEST_F(TakeShotTest, EachTargetGivesExactlyItsPixels) {
  const unsigned long green = windows.Pixel(0, 160, 0);
  Window application = windows.CreatePattern(300, 200, 240, 160, false);
  ASSERT_TRUE(windows.MapAndWait(application));
  Window dialog = windows.CreateSolid(900, 600, 120, 80, green, false);
  windows.SetTransientFor(dialog, application);
  ASSERT_TRUE(windows.MapAndWait(dialog));
  ASSERT_TRUE(windows.Activate(dialog));
  Window patch = windows.CreatePattern(100, 100, 100, 50, true);
  ASSERT_TRUE(windows.MapAndWait(patch));
  ASSERT_TRUE(windows.WaitForScreenPixel(199, 149, X11TestWindows::PatternPixel(99, 49)));

  CopiedFrame shot;
  Target(false, false, true, true, false);
  shot = Shot();
  EXPECT_EQ(shot.Width, 120);
  EXPECT_EQ(shot.Height, 80);
  EXPECT_EQ(shot.BitsPerPixel, 32);
  EXPECT_EQ(std::count(shot.Pixels.begin(), shot.Pixels.end(), 0x00A000u), 120 * 80)
      << "inner window: exactly the dialog's client area";

  Target(false, false, true, false, false);
  EXPECT_TRUE(ShotMatchesFrameOf(dialog, &shot)) << "foreground window with its frame";
  EXPECT_GT(shot.Height, 80);

  Target(false, true, false, false, false);
  EXPECT_TRUE(ShotMatchesFrameOf(application, &shot)) << "main window: the dialog's owner";
  EXPECT_GT(shot.Width, 0);

  Target(false, false, false, false, true);
  settings.SetHasMarkUserArea(true);
  settings.SetUserArea(Rect{100, 100, 199, 149});
  shot = Shot();
  ASSERT_EQ(shot.Width, 100);
  ASSERT_EQ(shot.Height, 50);
  int wrong = 0;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) wrong += shot.At(x, y) != X11TestWindows::PatternPixel(x, y);
  EXPECT_EQ(wrong, 0) << "area (100, 100)-(199, 149)";

  Target(true, false, false, false, false);
  shot = Shot();
  ASSERT_EQ(shot.Width, 1920);
  ASSERT_EQ(shot.Height, 1080);
  EXPECT_TRUE(shot.Pixels == ScreenRect(0, 0, 1920, 1080).Pixels) << "desktop";

  // Movie outputs get the same pixels through the clip session.
  CopyingClip clip;
  links.Clip = &clip;
  settings.SetOutputType(OutputTypes::WmvV80_384Video);
  Target(false, false, true, true, false);
  grabber.TakeShot();
  ASSERT_EQ(clip.frames.size(), 1u);
  EXPECT_EQ(clip.sources.back(), dialog) << "inner window: the window is the source";
  EXPECT_EQ(std::count(clip.frames[0].Pixels.begin(), clip.frames[0].Pixels.end(), 0x00A000u),
            120 * 80);
}

TEST_F(TakeShotTest, CursorIsDrawnAtItsHotSpotUnlessHiddenOrOff) {
  Window pad = windows.CreateSolid(500, 500, 200, 200, windows.Pixel(0, 0, 0), true);
  Window blankPad = windows.CreateSolid(800, 500, 200, 200, windows.Pixel(0, 0, 0), true);
  ASSERT_TRUE(windows.MapAndWait(pad));
  ASSERT_TRUE(windows.MapAndWait(blankPad));
  XDefineCursor(windows.display(), pad, windows.CreateBlockCursor(true, 3, 5));
  XDefineCursor(windows.display(), blankPad, windows.CreateBlockCursor(false, 0, 0));
  windows.Sync();
  system.SetCursorPos(Point{600, 600});
  CursorImage cursor;
  ASSERT_TRUE(
      X11TestWindows::WaitFor([&] { return screen.CurrentCursor(&cursor) && cursor.XHot == 3; }));

  Target(false, false, false, false, true);
  settings.SetHasMarkUserArea(true);
  settings.SetUserArea(Rect{500, 500, 699, 699});
  settings.SetPutCursorInBitmap(true);
  CopiedFrame shot = Shot();
  ASSERT_EQ(shot.Width, 200);
  // Hot spot (3, 5) on the pointer at frame (100, 100): the image starts at (97, 95).
  int wrong = 0;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 200; ++x) {
      const int cx = x - 97, cy = y - 95;
      const bool onImage = cx >= 0 && cx < 16 && cy >= 0 && cy < 16;
      const std::uint32_t expected =
          onImage ? X11TestWindows::BlockCursorPixel(cx, cy) & 0xFFFFFF : 0;
      wrong += shot.At(x, y) != expected;
    }
  }
  EXPECT_EQ(wrong, 0) << "the block cursor at its hot spot over black";

  settings.SetPutCursorInBitmap(false);
  shot = Shot();
  EXPECT_EQ(std::count(shot.Pixels.begin(), shot.Pixels.end(), 0u), 200 * 200)
      << "PutCursorInBitmap off: exactly the screen";

  settings.SetPutCursorInBitmap(true);
  settings.SetUserArea(Rect{800, 500, 999, 699});
  system.SetCursorPos(Point{900, 600});
  ASSERT_TRUE(X11TestWindows::WaitFor([&] { return !screen.CurrentCursor(&cursor); }));
  shot = Shot();
  ASSERT_EQ(shot.Width, 200);
  EXPECT_EQ(std::count(shot.Pixels.begin(), shot.Pixels.end(), 0u), 200 * 200)
      << "a hidden (transparent) cursor is left out";
}

TEST_F(TakeShotTest, ResizeRequestResizesTheWindowThenCapturesIt) {
  Window window = windows.CreateSolid(250, 250, 200, 150, windows.Pixel(200, 0, 200), false);
  ASSERT_TRUE(windows.MapAndWait(window));
  ASSERT_TRUE(windows.Activate(window));
  Target(false, false, true, false, false);
  settings.SetResizeFGWindow(true);
  settings.SetResizeFGWindowX(400);
  settings.SetResizeFGWindowY(300);

  EXPECT_EQ(Shot().Width, 0) << "the resizing shot yields no frame";
  EXPECT_EQ(scheduler.delays, std::vector<std::int32_t>{100});
  int x = 0, y = 0, width = 0, height = 0;
  EXPECT_TRUE(X11TestWindows::WaitFor([&] {
    return windows.FrameGeometry(window, &x, &y, &width, &height) && width == 400 && height == 300;
  })) << "outer frame "
      << width << "x" << height;

  CopiedFrame shot;
  EXPECT_TRUE(ShotMatchesFrameOf(window, &shot));
  EXPECT_EQ(shot.Width, 400);
  EXPECT_EQ(shot.Height, 300);
}

}  // namespace
}  // namespace framory
