// Partial grabs on a real Xvfb: after a change, re-reading only the changed
// parts into the kept frame gives exactly what a whole read of the screen
// gives, whatever extra rectangles come with the parts; the grabber refuses
// what it cannot bring up to date (another rectangle, a window source, a
// rectangle beyond the screen) so that the caller reads everything. The
// parts come from the server's own change reports in the last test.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <X11/Xutil.h>

#include <climits>
#include <cstring>
#include <vector>

#include "capture/ChangedParts.h"
#include "platform/x11/X11ScreenChanges.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "support/X11TestWindows.h"

namespace framory {
namespace {

struct IdleWatch : SocketWatch {
  void Watch(int, std::function<void()>) override {}
  void Unwatch(int) override {}
};

class PartialGrabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(windows.Valid());
    ASSERT_TRUE(grabber.Valid());
    ASSERT_EQ(windows.Depth(), 24);
    // A patterned backdrop, so that a part copied to the wrong place shows.
    backdrop = windows.CreatePattern(50, 40, 500, 400, true);
    ASSERT_TRUE(windows.MapAndWait(backdrop));
    box = windows.CreateSolid(200, 150, 40, 30, windows.Pixel(255, 0, 0), true);
    ASSERT_TRUE(windows.MapAndWait(box));
    ASSERT_TRUE(windows.WaitForScreenPixel(210, 160, windows.Pixel(255, 0, 0)));
  }

  // Every pixel of the frame against an independent read of the screen;
  // the number that differ.
  int DiffersFromScreen(const Frame& frame, int x, int y) {
    XImage* image = XGetImage(windows.display(), windows.root(), x, y, frame.Width, frame.Height,
                              AllPlanes, ZPixmap);
    if (image == nullptr) return -1;
    int wrong = 0;
    for (int row = 0; row < frame.Height; ++row) {
      for (int column = 0; column < frame.Width; ++column) {
        std::uint32_t pixel;
        std::memcpy(&pixel, frame.Row(row) + 4 * column, 4);
        wrong += (pixel & 0xFFFFFF) != (XGetPixel(image, column, row) & 0xFFFFFF);
      }
    }
    XDestroyImage(image);
    return wrong;
  }

  void Repaint(Window window, std::uint8_t r, std::uint8_t g, std::uint8_t b, int x, int y) {
    XSetWindowBackground(windows.display(), window, windows.Pixel(r, g, b));
    XClearWindow(windows.display(), window);
    windows.Sync();
    ASSERT_TRUE(windows.WaitForScreenPixel(x, y, windows.Pixel(r, g, b)));
  }

  X11TestWindows windows;
  X11ScreenGrabber grabber;
  Window backdrop = 0;
  Window box = 0;
};

TEST_F(PartialGrabTest, ChangedPartsWithHostileCompanionsMatchAWholeRead) {
  for (bool shm : {true, false}) {
    SCOPED_TRACE(shm ? "MIT-SHM" : "plain images");
    if (!shm) grabber.DisableSharedMemory();
    Frame frame;
    ASSERT_TRUE(grabber.Grab(windows.root(), 100, 100, 320, 240, &frame));
    ASSERT_EQ(DiffersFromScreen(frame, 100, 100), 0);

    Repaint(box, shm ? 0 : 255, 255, 0, 210, 160);
    // The box at frame (100, 50) 40 × 30, given in pieces that overlap,
    // with parts outside the frame, empty, inverted and extreme.
    const std::vector<Rect> parts = {
        Rect{100, 50, 125, 80},
        Rect{120, 50, 140, 80},
        Rect{-50, -50, -10, -10},
        Rect{400, 300, 500, 400},
        Rect{10, 10, 10, 200},
        Rect{60, 60, 30, 30},
        Rect{INT_MIN, 0, INT_MIN + 5, 5},
        Rect{315, 235, INT_MAX, INT_MAX},
    };
    ASSERT_TRUE(grabber.Regrab(windows.root(), 100, 100, 320, 240, parts, &frame));
    EXPECT_EQ(DiffersFromScreen(frame, 100, 100), 0);
    EXPECT_EQ(frame.Width, 320);
    EXPECT_EQ(frame.BitsPerPixel, 32);

    // Nothing to read is an up-to-date frame too.
    ASSERT_TRUE(grabber.Regrab(windows.root(), 100, 100, 320, 240, {}, &frame));
    EXPECT_EQ(DiffersFromScreen(frame, 100, 100), 0);
  }
}

TEST_F(PartialGrabTest, WhatCannotBeBroughtUpToDateIsRefused) {
  Frame frame;
  const std::vector<Rect> parts{Rect{0, 0, 10, 10}};
  EXPECT_FALSE(grabber.Regrab(windows.root(), 100, 100, 320, 240, parts, &frame))
      << "nothing kept yet";
  ASSERT_TRUE(grabber.Grab(windows.root(), 100, 100, 320, 240, &frame));
  EXPECT_FALSE(grabber.Regrab(windows.root(), 101, 100, 320, 240, parts, &frame)) << "moved";
  EXPECT_FALSE(grabber.Regrab(windows.root(), 100, 100, 320, 200, parts, &frame)) << "resized";
  EXPECT_FALSE(grabber.Regrab(backdrop, 100, 100, 320, 240, parts, &frame)) << "window source";
  EXPECT_FALSE(grabber.Regrab(windows.root(), 100, 100, 320, 240, parts, nullptr));

  // A grab of a window's client area reads the root; it is kept by its
  // place on screen, and asked for by the window it is refused.
  ASSERT_TRUE(grabber.Grab(backdrop, 50, 60, 320, 240, &frame));
  EXPECT_FALSE(grabber.Regrab(backdrop, 50, 60, 320, 240, parts, &frame));

  // A rectangle reaching beyond the screen is read with a black margin:
  // never mended part by part.
  const int right = windows.ScreenWidth() - 100;
  ASSERT_TRUE(grabber.Grab(windows.root(), right, 100, 320, 240, &frame));
  EXPECT_FALSE(grabber.Regrab(windows.root(), right, 100, 320, 240, parts, &frame));

  // A failed grab leaves nothing to mend.
  ASSERT_TRUE(grabber.Grab(windows.root(), 100, 100, 320, 240, &frame));
  EXPECT_FALSE(grabber.Grab(windows.root(), 100, 100, 0, 240, &frame));
  EXPECT_FALSE(grabber.Regrab(windows.root(), 100, 100, 320, 240, parts, &frame));
}

TEST_F(PartialGrabTest, TheServersReportsOfMovesResizesAndMapsMendTheKeptFrame) {
  X11Connection& connection = grabber.Connection();
  IdleWatch sockets;
  X11ScreenChanges changes(connection, sockets);
  ASSERT_TRUE(changes.Tracking());
  const Rect region{100, 100, 420, 340};
  const ShotView view{region, false, {}};
  Frame frame;
  std::vector<Rect> drawn;
  changes.FrameTaken(view, &drawn);
  ASSERT_TRUE(grabber.Grab(windows.root(), 100, 100, 320, 240, &frame));

  const Window mover = windows.CreateSolid(130, 120, 20, 20, windows.Pixel(0, 0, 255), true);
  // Each step changes the screen inside the region; the next frame is
  // mended from the reported parts alone and must equal the screen.
  struct Step {
    const char* what;
    std::function<void()> act;
  };
  const Step steps[] = {
      {"a window mapped", [&] { windows.MapAndWait(mover); }},
      {"moved", [&] { XMoveWindow(windows.display(), mover, 300, 250); }},
      {"resized", [&] { XResizeWindow(windows.display(), mover, 50, 35); }},
      {"moved and resized", [&] { XMoveResizeWindow(windows.display(), mover, 260, 180, 10, 60); }},
      {"raised under another", [&] { XLowerWindow(windows.display(), box); }},
      {"unmapped", [&] { XUnmapWindow(windows.display(), mover); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    windows.Sync();
    // The server has done the change once the screen shows it; the report
    // may still be on its way, so the frame is mended until it matches.
    bool matched = X11TestWindows::WaitFor(
        [&] {
          std::vector<Rect> parts;
          if (!changes.FrameTaken(view, &drawn)) return false;
          if (!ChangedParts(drawn, region, &parts)) return false;
          return grabber.Regrab(windows.root(), 100, 100, 320, 240, parts, &frame) &&
                 DiffersFromScreen(frame, 100, 100) == 0;
        },
        5000);
    EXPECT_TRUE(matched);
  }
}

}  // namespace
}  // namespace framory
