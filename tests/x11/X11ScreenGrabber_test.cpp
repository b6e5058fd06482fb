// Screen grabs on a 24-bit Xvfb screen: exact pixels of windows the server
// paints itself, black outside the screen, the plain-image fallback, and the
// pointer image from XFixes.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/x11/X11ScreenGrabber.h"
#include "support/X11TestWindows.h"

namespace framory {
namespace {

std::uint32_t At(const Frame& frame, int x, int y) {
  std::uint32_t pixel;
  std::memcpy(&pixel, frame.Row(y) + 4 * x, 4);
  return pixel & 0xFFFFFF;
}

// Counts pixels of the frame's rectangle [left, right) × [top, bottom) that
// are not `expected`.
int Mismatches(const Frame& frame, int left, int top, int right, int bottom,
               std::uint32_t expected) {
  int wrong = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) wrong += At(frame, x, y) != expected;
  return wrong;
}

class X11ScreenGrabberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(windows.Valid());
    ASSERT_TRUE(grabber.Valid());
    ASSERT_EQ(windows.Depth(), 24);
  }
  X11TestWindows windows;
  X11ScreenGrabber grabber;
  WindowHandle root() { return windows.root(); }
};

TEST_F(X11ScreenGrabberTest, GrabsExactPixelsInTheDisplayFormat) {
  const unsigned long red = windows.Pixel(255, 0, 0), green = windows.Pixel(0, 200, 0);
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(100, 100, 200, 150, red, true)));
  Window greenWindow = windows.CreateSolid(400, 300, 50, 60, green, true);
  ASSERT_TRUE(windows.MapAndWait(greenWindow));
  ASSERT_TRUE(windows.WaitForScreenPixel(425, 330, green));

  Frame frame;
  ASSERT_TRUE(grabber.Grab(root(), 90, 90, 400, 300, &frame));
  EXPECT_TRUE(grabber.UsingSharedMemory()) << "Xvfb offers MIT-SHM";
  EXPECT_EQ(frame.Width, 400);
  EXPECT_EQ(frame.Height, 300);
  EXPECT_EQ(frame.BitsPerPixel, 32);
  EXPECT_GE(frame.BytesPerLine, 400 * 4);
  EXPECT_EQ(frame.RedMask, 0xFF0000u);
  EXPECT_EQ(frame.GreenMask, 0x00FF00u);
  EXPECT_EQ(frame.BlueMask, 0x0000FFu);
  EXPECT_EQ(Mismatches(frame, 10, 10, 210, 160, 0xFF0000), 0) << "red window at (100, 100)";
  EXPECT_EQ(Mismatches(frame, 310, 210, 360, 270, 0x00C800), 0) << "green window at (400, 300)";
  EXPECT_NE(At(frame, 9, 10), 0xFF0000u) << "left of the red window";
  EXPECT_NE(At(frame, 10, 160), 0xFF0000u) << "below the red window";
}

TEST_F(X11ScreenGrabberTest, PatternComesOutPixelExactFromDesktopAndWindowSources) {
  Window pattern = windows.CreatePattern(700, 500, 64, 48, true);
  ASSERT_TRUE(windows.MapAndWait(pattern));
  const std::uint32_t last = X11TestWindows::PatternPixel(63, 47);
  ASSERT_TRUE(windows.WaitForScreenPixel(763, 547, last));

  auto expectPattern = [](const Frame& frame, int offsetX, int offsetY, const char* what) {
    int wrong = 0;
    for (int y = 0; y < frame.Height; ++y)
      for (int x = 0; x < frame.Width; ++x)
        wrong += At(frame, x, y) != X11TestWindows::PatternPixel(x + offsetX, y + offsetY);
    EXPECT_EQ(wrong, 0) << what;
  };
  Frame frame;
  ASSERT_TRUE(grabber.Grab(root(), 700, 500, 64, 48, &frame));
  expectPattern(frame, 0, 0, "desktop source at the window's screen position");
  ASSERT_TRUE(grabber.Grab(pattern, 0, 0, 64, 48, &frame));
  expectPattern(frame, 0, 0, "the window itself as source, client coordinates");
  ASSERT_TRUE(grabber.Grab(pattern, 10, 5, 30, 20, &frame));
  expectPattern(frame, 10, 5, "an offset inside the window");

  grabber.DisableSharedMemory();
  ASSERT_TRUE(grabber.Grab(pattern, 3, 4, 61, 44, &frame));
  EXPECT_FALSE(grabber.UsingSharedMemory());
  expectPattern(frame, 3, 4, "plain XGetImage fallback");
}

TEST_F(X11ScreenGrabberTest, PartsOutsideTheScreenAreBlack) {
  const int width = windows.ScreenWidth(), height = windows.ScreenHeight();
  const unsigned long red = windows.Pixel(255, 0, 0), blue = windows.Pixel(0, 0, 255);
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(0, 0, 100, 100, red, true)));
  ASSERT_TRUE(
      windows.MapAndWait(windows.CreateSolid(width - 100, height - 100, 100, 100, blue, true)));
  // Reaches past the right edge: the server keeps the part beyond the screen.
  Window wide = windows.CreateSolid(width - 70, 300, 200, 100, red, true);
  ASSERT_TRUE(windows.MapAndWait(wide));
  ASSERT_TRUE(windows.WaitForScreenPixel(50, 50, red));
  ASSERT_TRUE(windows.WaitForScreenPixel(width - 50, height - 50, blue));
  ASSERT_TRUE(windows.WaitForScreenPixel(width - 1, 350, red));

  for (bool shm : {true, false}) {
    SCOPED_TRACE(shm ? "MIT-SHM" : "plain images");
    if (!shm) grabber.DisableSharedMemory();
    Frame frame;
    // Fill the reused image with non-black pixels first, so that stale
    // content would show wherever black is missing.
    ASSERT_TRUE(grabber.Grab(root(), 0, 0, 200, 200, &frame));
    ASSERT_EQ(At(frame, 0, 0), 0xFF0000u);
    ASSERT_TRUE(grabber.Grab(root(), -50, -40, 200, 200, &frame));
    EXPECT_EQ(Mismatches(frame, 0, 0, 200, 40, 0), 0) << "rows above the screen";
    EXPECT_EQ(Mismatches(frame, 0, 40, 50, 200, 0), 0) << "columns left of the screen";
    EXPECT_EQ(Mismatches(frame, 50, 40, 150, 140, 0xFF0000), 0) << "the red corner window";

    ASSERT_TRUE(grabber.Grab(root(), 0, 0, 200, 200, &frame));
    ASSERT_TRUE(grabber.Grab(root(), width - 50, height - 50, 200, 200, &frame));
    EXPECT_EQ(Mismatches(frame, 0, 0, 50, 50, 0x0000FF), 0) << "the blue corner window";
    EXPECT_EQ(Mismatches(frame, 50, 0, 200, 200, 0), 0) << "right of the screen";
    EXPECT_EQ(Mismatches(frame, 0, 50, 50, 200, 0), 0) << "below the screen";

    ASSERT_TRUE(grabber.Grab(wide, 0, 0, 200, 100, &frame)) << "window partly off the screen";
    EXPECT_EQ(Mismatches(frame, 0, 0, 70, 100, 0xFF0000), 0);
    EXPECT_EQ(Mismatches(frame, 70, 0, 200, 100, 0), 0);

    ASSERT_TRUE(grabber.Grab(root(), width + 10, -500, 30, 20, &frame)) << "wholly outside";
    EXPECT_EQ(Mismatches(frame, 0, 0, 30, 20, 0), 0);
  }
}

TEST_F(X11ScreenGrabberTest, ReusesTheImageAndRefusesImpossibleGrabs) {
  Frame first, second, other;
  ASSERT_TRUE(grabber.Grab(root(), 0, 0, 320, 240, &first));
  ASSERT_TRUE(grabber.Grab(root(), 10, 10, 320, 240, &second));
  EXPECT_EQ(first.Pixels, second.Pixels) << "same size: the same shared image";
  ASSERT_TRUE(grabber.Grab(root(), 0, 0, 1920, 1080, &other));
  EXPECT_EQ(other.Width, 1920);
  grabber.ReleaseFrame();

  Frame frame;
  EXPECT_FALSE(grabber.Grab(root(), 0, 0, 0, 10, &frame)) << "zero width";
  EXPECT_FALSE(grabber.Grab(root(), 0, 0, 10, -1, &frame)) << "negative height";
  EXPECT_FALSE(grabber.Grab(kNoWindow, 0, 0, 10, 10, &frame)) << "no source";
  Window gone = windows.CreateSolid(10, 10, 10, 10, 0, true);
  windows.Destroy(gone);
  EXPECT_FALSE(grabber.Grab(gone, 0, 0, 10, 10, &frame)) << "a source that vanished";
  EXPECT_TRUE(grabber.Grab(root(), 0, 0, 10, 10, &frame)) << "still usable afterwards";
  EXPECT_FALSE(grabber.IsPaletteDisplay());
  Palette palette;
  EXPECT_FALSE(grabber.ReadPalette(root(), &palette)) << "no palette on a TrueColor display";
}

TEST_F(X11ScreenGrabberTest, CursorImageWithHotSpotAndHiddenCursor) {
  Display* display = windows.display();
  Window window = windows.CreateSolid(500, 500, 200, 200, windows.Pixel(0, 0, 0), true);
  Window other = windows.CreateSolid(800, 500, 200, 200, windows.Pixel(0, 0, 0), true);
  ASSERT_TRUE(windows.MapAndWait(window));
  ASSERT_TRUE(windows.MapAndWait(other));
  Cursor block = windows.CreateBlockCursor(true, 3, 5);
  Cursor blank = windows.CreateBlockCursor(false, 0, 0);
  XDefineCursor(display, window, block);
  XDefineCursor(display, other, blank);
  XWarpPointer(display, None, windows.root(), 0, 0, 0, 0, 600, 600);
  XSync(display, False);

  CursorImage cursor;
  ASSERT_TRUE(X11TestWindows::WaitFor([&] {
    return grabber.CurrentCursor(&cursor) && cursor.Width == 16 && cursor.XHot == 3;
  })) << "the window's cursor once the pointer is over it";
  EXPECT_EQ(cursor.Height, 16);
  EXPECT_EQ(cursor.YHot, 5);
  ASSERT_EQ(cursor.Argb.size(), 256u);
  int wrong = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      wrong += cursor.Argb[y * 16 + x] != X11TestWindows::BlockCursorPixel(x, y);
  EXPECT_EQ(wrong, 0) << "premultiplied ARGB: red block, blue frame, transparent elsewhere";

  XWarpPointer(display, None, windows.root(), 0, 0, 0, 0, 900, 600);
  XSync(display, False);
  EXPECT_TRUE(X11TestWindows::WaitFor([&] { return !grabber.CurrentCursor(&cursor); }))
      << "a fully transparent cursor counts as hidden";
  XWarpPointer(display, None, windows.root(), 0, 0, 0, 0, 600, 600);
  XSync(display, False);
  EXPECT_TRUE(X11TestWindows::WaitFor([&] { return grabber.CurrentCursor(&cursor); }))
      << "visible again over the first window";
}

}  // namespace
}  // namespace framory
