// xvfb-depth: 8
// An 8-bit PseudoColor screen: grabs give colormap indices, the palette comes
// from the colormap in use, and TakeShot hands on an 8-bit frame with it.
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

struct Colour {
  unsigned long Index;
  PaletteEntry Rgb;  // as the server stored it
};

// Allocates a read-only colour in the default colormap; the server answers
// with the colour it really holds.
Colour Allocate(Display* display, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  XColor colour{};
  colour.red = static_cast<unsigned short>(red * 257);
  colour.green = static_cast<unsigned short>(green * 257);
  colour.blue = static_cast<unsigned short>(blue * 257);
  colour.flags = DoRed | DoGreen | DoBlue;
  EXPECT_TRUE(XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &colour));
  return Colour{colour.pixel, PaletteEntry{static_cast<std::uint8_t>(colour.red >> 8),
                                           static_cast<std::uint8_t>(colour.green >> 8),
                                           static_cast<std::uint8_t>(colour.blue >> 8), 0}};
}

class PaletteDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(windows.Valid() && screen.Valid());
    ASSERT_EQ(windows.Depth(), 8);
  }
  X11TestWindows windows;
  X11ScreenGrabber screen;
};

TEST_F(PaletteDisplayTest, GrabGivesIndicesWhosePaletteEntriesAreTheColours) {
  Display* display = windows.display();
  const Colour red = Allocate(display, 255, 0, 0);
  const Colour teal = Allocate(display, 0, 128, 160);
  const Colour olive = Allocate(display, 120, 130, 20);
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(0, 0, 60, 40, red.Index, true)));
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(60, 0, 60, 40, teal.Index, true)));
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(120, 0, 60, 40, olive.Index, true)));
  ASSERT_TRUE(windows.WaitForScreenPixel(150, 20, olive.Index));

  EXPECT_TRUE(screen.IsPaletteDisplay());
  Frame frame;
  ASSERT_TRUE(screen.Grab(windows.root(), 0, 0, 180, 40, &frame));
  EXPECT_EQ(frame.BitsPerPixel, 8);
  EXPECT_EQ(frame.RedMask | frame.GreenMask | frame.BlueMask, 0u);
  int wrong = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 180; ++x) {
      const unsigned long expected = x < 60 ? red.Index : x < 120 ? teal.Index : olive.Index;
      wrong += frame.Row(y)[x] != expected;
    }
  }
  EXPECT_EQ(wrong, 0) << "each window's colormap index";

  Palette palette;
  ASSERT_TRUE(screen.ReadPalette(windows.root(), &palette));
  EXPECT_EQ(palette.Entries[red.Index], red.Rgb);
  EXPECT_EQ(palette.Entries[teal.Index], teal.Rgb);
  EXPECT_EQ(palette.Entries[olive.Index], olive.Rgb);
  const unsigned long black = BlackPixel(display, DefaultScreen(display));
  const unsigned long white = WhitePixel(display, DefaultScreen(display));
  EXPECT_EQ(palette.Entries[black], (PaletteEntry{0, 0, 0, 0}));
  EXPECT_EQ(palette.Entries[white], (PaletteEntry{255, 255, 255, 0}));

  // Off the screen the frame holds the colormap's black.
  ASSERT_TRUE(screen.Grab(windows.root(), -20, -10, 80, 50, &frame));
  wrong = 0;
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 80; ++x) {
      const unsigned long expected = (x < 20 || y < 10) ? black : red.Index;
      wrong += frame.Row(y)[x] != expected;
    }
  }
  EXPECT_EQ(wrong, 0);
}

class PaletteStills : public StillImageSink {
 public:
  void SaveStill(const Frame& frame, const Palette* palette) override {
    width = frame.Width;
    height = frame.Height;
    bitsPerPixel = frame.BitsPerPixel;
    indices.clear();
    for (int y = 0; y < frame.Height; ++y)
      indices.insert(indices.end(), frame.Row(y), frame.Row(y) + frame.Width);
    hasPalette = palette != nullptr;
    if (palette != nullptr) this->palette = *palette;
  }
  bool HasLastResult() const override { return width != 0; }
  PaletteEntry At(int x, int y) const { return palette.Entries[indices[y * width + x]]; }
  int width = 0, height = 0, bitsPerPixel = 0;
  std::vector<std::uint8_t> indices;
  bool hasPalette = false;
  Palette palette;
};

TEST_F(PaletteDisplayTest, TakeShotGivesAnEightBitFrameWithTheColormap) {
  Display* display = windows.display();
  const Colour green = Allocate(display, 0, 200, 0);
  // The cursor's colours exist in the colormap, so its nearest colours are exact.
  Allocate(display, 255, 0, 0);
  Allocate(display, 0, 0, 255);
  Window pad = windows.CreateSolid(300, 300, 100, 80, green.Index, true);
  ASSERT_TRUE(windows.MapAndWait(pad));
  XDefineCursor(display, pad, windows.CreateBlockCursor(true, 0, 0));
  windows.Sync();
  ASSERT_TRUE(windows.WaitForScreenPixel(350, 340, green.Index));

  X11WindowSystem system;
  ASSERT_TRUE(system.Valid());
  Settings settings;
  settings.SetOutputType(OutputTypes::Bmp);
  settings.SetUseMainAppWindow(false);
  settings.SetUseArea(true);
  settings.SetHasMarkUserArea(true);
  settings.SetUserArea(Rect{300, 300, 399, 379});
  settings.SetPutCursorInBitmap(true);
  PaletteStills stills;
  CaptureLinks links;
  links.Stills = &stills;
  CaptureTarget target(settings, system, links);
  FrameGrabber grabber(settings, screen, target, links);

  system.SetCursorPos(Point{320, 310});
  CursorImage cursor;
  ASSERT_TRUE(
      X11TestWindows::WaitFor([&] { return screen.CurrentCursor(&cursor) && cursor.Width == 16; }));
  grabber.TakeShot();
  ASSERT_EQ(stills.width, 100);
  ASSERT_EQ(stills.height, 80);
  EXPECT_EQ(stills.bitsPerPixel, 8);
  ASSERT_TRUE(stills.hasPalette) << "palette displays hand the palette on";
  EXPECT_EQ(stills.palette.Entries[green.Index], green.Rgb);
  int wrong = 0;
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 100; ++x) {
      const int cx = x - 20, cy = y - 10;
      const std::uint32_t argb =
          (cx >= 0 && cx < 16 && cy >= 0 && cy < 16) ? X11TestWindows::BlockCursorPixel(cx, cy) : 0;
      const PaletteEntry expected = argb == 0 ? green.Rgb
                                              : PaletteEntry{static_cast<std::uint8_t>(argb >> 16),
                                                             static_cast<std::uint8_t>(argb >> 8),
                                                             static_cast<std::uint8_t>(argb), 0};
      wrong += !(stills.At(x, y) == expected);
    }
  }
  EXPECT_EQ(wrong, 0) << "green pad with the block cursor at (20, 10) in palette colours";

  settings.SetPutCursorInBitmap(false);
  grabber.TakeShot();
  EXPECT_EQ(std::count(stills.indices.begin(), stills.indices.end(),
                       static_cast<std::uint8_t>(green.Index)),
            100 * 80);
}

}  // namespace
}  // namespace framory
