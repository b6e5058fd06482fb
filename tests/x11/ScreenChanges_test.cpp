// Screen changes reported by the X server (DAMAGE and XFixes) on a real
// Xvfb: what is drawn inside a capture region, windows mapped, moved or
// unmapped over it, and the pointer's image.
// gtest first: Xlib's None macro would break its headers.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "platform/x11/X11ScreenChanges.h"

#include "support/X11TestWindows.h"

namespace framory {
namespace {

// The event loop is not running in these tests; every decision reads what
// the server sent by itself.
struct IdleWatch : SocketWatch {
  void Watch(int, std::function<void()>) override { ++watches; }
  void Unwatch(int) override { ++unwatches; }
  int watches = 0;
  int unwatches = 0;
};

struct ScreenChangesTest : ::testing::Test {
  ScreenChangesTest() : changes(connection, sockets) {}

  // A region of the screen and a view of it without the pointer.
  ShotView View(int left, int top, int right, int bottom, bool cursor = false) {
    return ShotView{Rect{left, top, right, bottom}, cursor, Point{1, 1}};
  }
  // Waits until the change shows: the server may still be drawing.
  bool BecomesChanged(const ShotView& view) {
    return X11TestWindows::WaitFor([&] { return !changes.Unchanged(view); }, 5000);
  }

  X11TestWindows windows;
  X11Connection connection;
  IdleWatch sockets;
  X11ScreenChanges changes;
};

TEST_F(ScreenChangesTest, AStillScreenIsUnchangedAndDrawingElsewhereDoesNotCount) {
  ASSERT_TRUE(windows.Valid());
  ASSERT_TRUE(changes.Tracking()) << "Xvfb has DAMAGE and XFixes";
  EXPECT_EQ(sockets.watches, 1) << "served by the event loop";

  // An override-redirect window far from the region, drawn before the frame.
  const Window outside = windows.CreateSolid(600, 500, 80, 60, windows.Pixel(0, 0, 255), true);
  ASSERT_TRUE(windows.MapAndWait(outside));
  ASSERT_TRUE(windows.WaitForScreenPixel(610, 510, windows.Pixel(0, 0, 255)));

  const ShotView view = View(10, 10, 210, 110);
  EXPECT_FALSE(changes.Unchanged(view)) << "no frame taken yet";
  changes.FrameTaken(view, nullptr);
  EXPECT_TRUE(changes.Unchanged(view));

  // Drawing into the far window damages only its own area.
  XSetWindowBackground(windows.display(), outside, windows.Pixel(255, 255, 0));
  XClearWindow(windows.display(), outside);
  windows.Sync();
  ASSERT_TRUE(windows.WaitForScreenPixel(610, 510, windows.Pixel(255, 255, 0)));
  EXPECT_TRUE(changes.Unchanged(view));
  EXPECT_FALSE(changes.Unchanged(View(590, 490, 700, 600))) << "another view is never unchanged";
}

TEST_F(ScreenChangesTest, DrawingMappingAndMovingWindowsInsideTheRegionAreChanges) {
  ASSERT_TRUE(changes.Tracking());
  const ShotView view = View(100, 100, 400, 300);

  // A window mapped over the region.
  changes.FrameTaken(view, nullptr);
  const Window box = windows.CreateSolid(150, 150, 50, 40, windows.Pixel(255, 0, 0), true);
  ASSERT_TRUE(windows.MapAndWait(box));
  EXPECT_TRUE(BecomesChanged(view)) << "mapping a window inside";

  // Repainting it with another colour.
  ASSERT_TRUE(windows.WaitForScreenPixel(160, 160, windows.Pixel(255, 0, 0)));
  changes.FrameTaken(view, nullptr);
  ASSERT_TRUE(changes.Unchanged(view));
  XSetWindowBackground(windows.display(), box, windows.Pixel(0, 255, 0));
  XClearWindow(windows.display(), box);
  windows.Sync();
  EXPECT_TRUE(BecomesChanged(view)) << "drawing inside";

  // A window moved from outside into the region.
  const Window mover = windows.CreateSolid(700, 500, 30, 30, windows.Pixel(0, 0, 255), true);
  ASSERT_TRUE(windows.MapAndWait(mover));
  ASSERT_TRUE(windows.WaitForScreenPixel(710, 510, windows.Pixel(0, 0, 255)));
  changes.FrameTaken(view, nullptr);
  ASSERT_TRUE(changes.Unchanged(view));
  XMoveWindow(windows.display(), mover, 300, 200);
  windows.Sync();
  EXPECT_TRUE(BecomesChanged(view)) << "moving a window in";

  // A window unmapped from over the region exposes what was under it.
  ASSERT_TRUE(windows.WaitForScreenPixel(310, 210, windows.Pixel(0, 0, 255)));
  changes.FrameTaken(view, nullptr);
  ASSERT_TRUE(changes.Unchanged(view));
  XUnmapWindow(windows.display(), mover);
  windows.Sync();
  EXPECT_TRUE(BecomesChanged(view)) << "unmapping a window inside";
}

TEST_F(ScreenChangesTest, APointerImageChangeCountsWhenThePointerIsDrawn) {
  ASSERT_TRUE(changes.Tracking());
  // The pointer rests over a window of ours far from the region, whose
  // pointer image the test changes, as a text field or a busy program would.
  // (Xvfb draws the pointer into the screen itself, so a new image, and the
  // move away from where the pointer was, are drawing too: hence a region
  // far from both.)
  const Window host = windows.CreateSolid(1400, 800, 200, 200, windows.Pixel(9, 9, 9), true);
  ASSERT_TRUE(windows.MapAndWait(host));
  XWarpPointer(windows.display(), None, windows.root(), 0, 0, 0, 0, 1500, 900);
  windows.Sync();
  const ShotView drawn = View(300, 300, 400, 400, true);
  const ShotView plain = View(300, 300, 400, 400, false);

  changes.FrameTaken(drawn, nullptr);
  ASSERT_TRUE(changes.Unchanged(drawn));
  XDefineCursor(windows.display(), host, windows.CreateBlockCursor(true, 1, 1));
  windows.Sync();
  EXPECT_TRUE(BecomesChanged(drawn));

  changes.FrameTaken(plain, nullptr);
  XDefineCursor(windows.display(), host, windows.CreateBlockCursor(true, 2, 2));
  windows.Sync();
  EXPECT_TRUE(changes.Unchanged(plain)) << "the pointer is not in these frames";
  changes.FrameTaken(drawn, nullptr);
  EXPECT_TRUE(changes.Unchanged(drawn)) << "the change came before this frame";
}

TEST_F(ScreenChangesTest, ReportsXlibAlreadyReadCountAndTheFrameLearnsWhereTheDrawingWas) {
  ASSERT_TRUE(changes.Tracking());
  const ShotView view = View(100, 100, 300, 200);
  const Window box = windows.CreateSolid(120, 130, 30, 20, windows.Pixel(255, 0, 0), true);
  ASSERT_TRUE(windows.MapAndWait(box));
  ASSERT_TRUE(windows.WaitForScreenPixel(125, 135, windows.Pixel(255, 0, 0)));
  std::vector<Rect> drawn;
  changes.FrameTaken(view, &drawn);
  ASSERT_TRUE(changes.Unchanged(view));

  // The report of a drawing is read off the socket by a round trip of the
  // watch's own connection (a grab makes such round trips), so it waits in
  // Xlib's queue and the socket has nothing left for an event loop to see.
  XSetWindowBackground(windows.display(), box, windows.Pixel(0, 255, 0));
  XClearWindow(windows.display(), box);
  windows.Sync();
  ASSERT_TRUE(windows.WaitForScreenPixel(125, 135, windows.Pixel(0, 255, 0)));
  ASSERT_TRUE(X11TestWindows::WaitFor(
      [&] {
        XSync(connection.display(), False);
        return XEventsQueued(connection.display(), QueuedAlready) > 0;
      },
      5000));
  EXPECT_FALSE(changes.Unchanged(view)) << "the queued report counts";

  // The frame taken next learns what was drawn: the box's rectangle, in
  // screen pixels, and nothing beyond what the server reported.
  ASSERT_TRUE(changes.FrameTaken(view, &drawn));
  bool covered = false;
  for (const Rect& r : drawn) {
    covered = covered || (r.left <= 120 && r.top <= 130 && r.right >= 150 && r.bottom >= 150);
  }
  EXPECT_TRUE(covered) << drawn.size() << " rectangles";
  EXPECT_FALSE(changes.FrameTaken(View(100, 100, 300, 201), &drawn))
      << "another rectangle than the last frame's: not known";
}

TEST(ScreenChangesLostDisplay, AClosedConnectionIsNeverUnchanged) {
  X11Connection connection;
  IdleWatch sockets;
  X11ScreenChanges changes(connection, sockets);
  ASSERT_TRUE(changes.Tracking());
  const ShotView view{Rect{0, 0, 10, 10}, false, {}};
  changes.FrameTaken(view, nullptr);
  ASSERT_TRUE(changes.Unchanged(view));
  // Break the connection under the watch, as a server that goes away would.
  shutdown(ConnectionNumber(connection.display()), SHUT_RDWR);
  EXPECT_FALSE(changes.Unchanged(view));
  EXPECT_FALSE(changes.Tracking());
  EXPECT_EQ(sockets.unwatches, 1);
}

}  // namespace
}  // namespace framory
