#include "capture/CaptureTarget.h"

#include <gtest/gtest.h>

#include "support/FakeWindowSystem.h"

namespace framory {
namespace {

using testing::FakeWindowSystem;

struct FakeScheduler : ShotScheduler {
  bool PeriodicTimerRunning() const override { return periodic; }
  void ScheduleDelayedShot(std::int32_t ms) override { delays.push_back(ms); }
  bool periodic = false;
  std::vector<std::int32_t> delays;
};

struct FakeClip : MovieFrameSink {
  void DeliverMovieFrame(const Frame*, WindowHandle, const Rect&) override {}
  bool ClipOpen() const override { return open; }
  std::int32_t MovieWidth() const override { return width; }
  std::int32_t MovieHeight() const override { return height; }
  bool open = false;
  std::int32_t width = 0, height = 0;
};

struct FakeDialog : MainDialogView {
  WindowHandle DialogWindow() const override { return window; }
  void RefreshTitle() override {}
  WindowHandle window = kNoWindow;
};

struct FakeComment : CommentWindowInfo {
  WindowHandle CommentWindow() const override { return window; }
  bool AllowCommentWindowAlone() const override { return alone; }
  WindowHandle window = kNoWindow;
  bool alone = false;
};

class CaptureTargetTest : public ::testing::Test {
 protected:
  CaptureTargetTest() {
    links.Scheduler = &scheduler;
    links.Clip = &clip;
    links.Dialog = &dialog;
    links.Comment = &comment;
    // Settings start as on a first run: "Main Window".
  }
  void Target(bool desktop, bool mainApp, bool foreground, bool inside, bool area) {
    settings.SetUseDesktopWindow(desktop);
    settings.SetUseMainAppWindow(mainApp);
    settings.SetUseForegrounWindow(foreground);
    settings.SetUseForegrounWindowInside(inside);
    settings.SetUseArea(area);
  }
  CaptureRegion Shot() {
    CaptureDecision d = target.ComputeCaptureRegion();
    EXPECT_FALSE(d.ResizedNoFrame);
    return d.Region;
  }

  Settings settings;
  FakeWindowSystem windows;
  FakeScheduler scheduler;
  FakeClip clip;
  FakeDialog dialog;
  FakeComment comment;
  CaptureLinks links;
  CaptureTarget target{settings, windows, links};
};

TEST_F(CaptureTargetTest, MainWindowCapturesTheOwnerOfADialogInFront) {
  windows.Add(10, Rect{100, 50, 500, 350});
  windows.Add(11, Rect{200, 100, 300, 180}, /*owner=*/10);
  windows.foreground = 11;
  windows.pointer = Point{150, 60};

  CaptureRegion r = Shot();
  EXPECT_EQ(r.SourceWindow, FakeWindowSystem::kRoot);
  EXPECT_EQ(r.PaletteWindow, 10u);
  EXPECT_EQ(r.SourceOrigin, (Point{100, 50}));
  EXPECT_EQ(r.Width, 400) << "right - left, no extra pixel";
  EXPECT_EQ(r.Height, 300);
  EXPECT_EQ(r.ScreenRect, (Rect{100, 50, 500, 350}));
  EXPECT_EQ(r.CursorPosition, (Point{50, 10}));
  EXPECT_EQ(target.LastTargetWindow(), 10u);

  // An owner that is not visible is not used: the dialog itself is captured.
  windows.windows[10].Visible = false;
  r = Shot();
  EXPECT_EQ(r.SourceOrigin, (Point{200, 100}));
  EXPECT_EQ(r.Width, 100);
  EXPECT_EQ(target.LastTargetWindow(), 11u);

  // "Foreground Window" never climbs to the owner.
  windows.windows[10].Visible = true;
  Target(false, false, true, false, false);
  r = Shot();
  EXPECT_EQ(target.LastTargetWindow(), 11u);
}

TEST_F(CaptureTargetTest, InnerWindowCapturesTheClientArea) {
  Target(false, false, true, true, false);
  windows.Add(10, Rect{100, 50, 500, 350});  // client at (104, 70), 392 × 276
  windows.foreground = 10;
  windows.pointer = Point{110, 80};

  CaptureRegion r = Shot();
  EXPECT_EQ(r.SourceWindow, 10u);
  EXPECT_EQ(r.PaletteWindow, 10u);
  EXPECT_EQ(r.SourceOrigin, (Point{0, 0}));
  EXPECT_EQ(r.Width, 392);
  EXPECT_EQ(r.Height, 276);
  EXPECT_EQ(r.CursorPosition, (Point{6, 10}));
  EXPECT_EQ(r.ScreenRect, (Rect{104, 70, 496, 346}));

  // The inside flag alone selects nothing: the whole screen is taken.
  Target(false, false, false, true, false);
  r = Shot();
  EXPECT_EQ(r.Width, 1024);
  EXPECT_EQ(r.SourceWindow, FakeWindowSystem::kRoot);
}

TEST_F(CaptureTargetTest, CommentWindowInFrontKeepsThePreviousTarget) {
  Target(false, false, true, false, false);
  windows.Add(10, Rect{0, 0, 200, 100});
  windows.Add(20, Rect{300, 300, 400, 400});
  comment.window = 20;

  windows.foreground = 10;
  Shot();
  windows.foreground = 20;
  CaptureRegion r = Shot();
  EXPECT_EQ(r.SourceOrigin, (Point{0, 0})) << "the comment window must not take the focus";
  EXPECT_EQ(target.LastTargetWindow(), 10u);

  comment.alone = true;
  r = Shot();
  EXPECT_EQ(r.SourceOrigin, (Point{300, 300}));
  EXPECT_EQ(target.LastTargetWindow(), 20u);

  // A previous target that no longer exists is not used.
  comment.alone = false;
  windows.foreground = 10;
  Shot();
  windows.windows.erase(10);
  windows.foreground = 20;
  r = Shot();
  EXPECT_EQ(target.LastTargetWindow(), 20u);
}

TEST_F(CaptureTargetTest, NoForegroundWindowKeepsThePreviousTargetOrTakesTheScreen) {
  windows.Add(10, Rect{10, 10, 110, 60});
  windows.foreground = kNoWindow;
  CaptureRegion r = Shot();
  EXPECT_EQ(r.Width, 1024) << "nothing captured yet: whole screen";
  EXPECT_EQ(r.Height, 768);
  EXPECT_EQ(target.LastTargetWindow(), FakeWindowSystem::kRoot);

  windows.foreground = 10;
  Shot();
  windows.foreground = kNoWindow;  // no comment window open: absent matches it
  r = Shot();
  EXPECT_EQ(r.SourceOrigin, (Point{10, 10}));
}

TEST_F(CaptureTargetTest, ResizeOncePerWindowThenAFrameFollows) {
  settings.SetResizeFGWindow(true);
  settings.SetResizeFGWindowX(640);
  settings.SetResizeFGWindowY(480);
  windows.Add(10, Rect{0, 0, 300, 200});
  windows.foreground = 10;

  CaptureDecision d = target.ComputeCaptureRegion();
  EXPECT_TRUE(d.ResizedNoFrame);
  ASSERT_EQ(windows.resizes.size(), 1u);
  EXPECT_EQ(windows.resizes[0].Width, 640);
  EXPECT_EQ(windows.resizes[0].Height, 480);
  EXPECT_EQ(scheduler.delays, std::vector<std::int32_t>{100});
  EXPECT_EQ(target.LastResizedWindow(), 10u);

  CaptureRegion r = Shot();
  EXPECT_EQ(r.Width, 640);
  EXPECT_EQ(r.Height, 480);

  // The user makes it smaller again: it is left alone.
  windows.windows[10].Outer = Rect{0, 0, 200, 100};
  r = Shot();
  EXPECT_EQ(r.Width, 200);
  EXPECT_EQ(windows.resizes.size(), 1u);

  // Until the resizer forgets it.
  target.ForgetResizedWindow();
  scheduler.periodic = true;
  d = target.ComputeCaptureRegion();
  EXPECT_TRUE(d.ResizedNoFrame);
  EXPECT_EQ(scheduler.delays.size(), 1u) << "the periodic timer takes the next frame itself";

  // A window of the wanted size needs nothing.
  windows.Add(11, Rect{5, 5, 645, 485});
  windows.foreground = 11;
  r = Shot();
  EXPECT_EQ(r.Width, 640);
  EXPECT_EQ(windows.resizes.size(), 2u);
}

TEST_F(CaptureTargetTest, ResizeSkipsTheOptionsViewBadSizesAndUnreadableWindows) {
  settings.SetResizeFGWindow(true);
  windows.Add(10, Rect{0, 0, 300, 200});
  windows.foreground = 10;

  dialog.window = 10;
  EXPECT_EQ(Shot().Width, 300) << "the options view is never resized";
  dialog.window = kNoWindow;

  settings.SetResizeFGWindowX(0);
  EXPECT_EQ(Shot().Width, 300);
  settings.SetResizeFGWindowX(-640);
  EXPECT_EQ(Shot().Width, 300);
  settings.SetResizeFGWindowX(640);

  windows.failWindowInfo = true;
  CaptureDecision d = target.ComputeCaptureRegion();
  EXPECT_FALSE(d.ResizedNoFrame);
  EXPECT_EQ(d.Region.Width, 1024) << "a window that cannot be read falls back to the screen";
  EXPECT_TRUE(windows.resizes.empty());
}

TEST_F(CaptureTargetTest, OpenClipResizesToTheMovieSize) {
  settings.SetResizeFGWindow(false);
  settings.SetResizeFGWindowX(640);
  settings.SetResizeFGWindowY(480);
  windows.Add(10, Rect{0, 0, 300, 200});
  windows.foreground = 10;

  EXPECT_EQ(Shot().Width, 300) << "no clip open, no fixed size: no resize";

  clip.open = true;
  clip.width = 1024;
  clip.height = 768;
  CaptureDecision d = target.ComputeCaptureRegion();
  EXPECT_TRUE(d.ResizedNoFrame);
  ASSERT_EQ(windows.resizes.size(), 1u);
  EXPECT_EQ(windows.resizes[0].Width, 1024) << "the movie size wins over the fixed size";
  EXPECT_EQ(windows.resizes[0].Height, 768);

  settings.SetSizeWindowToMovieSize(false);
  target.ForgetResizedWindow();
  windows.windows[10].Outer = Rect{0, 0, 300, 200};
  EXPECT_EQ(Shot().Width, 300);
}

TEST_F(CaptureTargetTest, MarkedAreaAndItsFallback) {
  Target(false, false, false, false, true);
  settings.SetUserArea(Rect{100, 100, 199, 149});
  windows.pointer = Point{150, 120};

  CaptureRegion r = Shot();
  EXPECT_EQ(r.Width, 1024) << "an unmarked area captures the whole primary screen";
  EXPECT_EQ(r.Height, 768);
  EXPECT_EQ(r.ScreenRect, (Rect{0, 0, 1024, 768}));
  EXPECT_EQ(r.CursorPosition, (Point{150, 120}));

  settings.SetHasMarkUserArea(true);
  r = Shot();
  EXPECT_EQ(r.Width, 100);
  EXPECT_EQ(r.Height, 50);
  EXPECT_EQ(r.SourceOrigin, (Point{100, 100}));
  EXPECT_EQ(r.SourceWindow, FakeWindowSystem::kRoot);
  EXPECT_EQ(r.ScreenRect, (Rect{100, 100, 199, 149}));
  EXPECT_EQ(r.CursorPosition, (Point{50, 20}));
  EXPECT_EQ(target.LastTargetWindow(), FakeWindowSystem::kRoot);

  // The area overrides a window target; the desktop overrides both.
  windows.Add(10, Rect{0, 0, 300, 200});
  windows.foreground = 10;
  settings.SetUseMainAppWindow(true);
  EXPECT_EQ(Shot().Width, 100);
  settings.SetUseDesktopWindow(true);
  EXPECT_EQ(Shot().Width, 1024);
}

// Corners as far apart as 32-bit numbers go (a hand-edited store) give a
// saturated size instead of a wrapped one, and no overflow on the way.
TEST_F(CaptureTargetTest, ExtremeMarkedAreaDoesNotWrap) {
  Target(false, false, false, false, true);
  settings.SetHasMarkUserArea(true);
  settings.SetUserArea(Rect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX});
  windows.pointer = Point{INT32_MAX, 0};
  CaptureRegion r = Shot();
  EXPECT_EQ(r.Width, INT32_MAX);
  EXPECT_EQ(r.Height, INT32_MAX);
  EXPECT_EQ(r.CursorPosition, (Point{INT32_MAX, INT32_MAX}));

  settings.SetUserArea(Rect{INT32_MAX, 0, INT32_MIN, 0});
  windows.pointer = Point{INT32_MIN, 0};
  r = Shot();
  EXPECT_EQ(r.Width, INT32_MIN) << "a reversed area has no pixels";
  EXPECT_EQ(r.CursorPosition.x, INT32_MIN);
}

TEST_F(CaptureTargetTest, DesktopIsThePrimaryScreen) {
  Target(true, false, false, false, false);
  windows.screenWidth = 1920;
  windows.screenHeight = 1080;
  windows.pointer = Point{-5, 2000};
  CaptureRegion r = Shot();
  EXPECT_EQ(r.Width, 1920);
  EXPECT_EQ(r.Height, 1080);
  EXPECT_EQ(r.SourceOrigin, (Point{0, 0}));
  EXPECT_EQ(r.ScreenRect, (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(r.CursorPosition, (Point{-5, 2000}));
}

}  // namespace
}  // namespace framory
