#include "capture/FrameGrabber.h"

#include <gtest/gtest.h>

#include "support/FakeWindowSystem.h"

namespace framory {
namespace {

using testing::FakeWindowSystem;

// A screen of 32-bit pixels whose value is a function of the position, so
// that any grab can be checked pixel by pixel.
std::uint32_t ScreenPixel(std::int32_t x, std::int32_t y) {
  return (static_cast<std::uint32_t>(x & 0xFF) << 16) |
         (static_cast<std::uint32_t>(y & 0xFF) << 8) | 0x40;
}

struct FakeScreen : ScreenGrabber {
  bool Grab(WindowHandle source, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
            Frame* frame) override {
    grabs.push_back({source, x, y, w, h});
    if (w <= 0 || h <= 0 || failGrab) return false;
    pixels.assign(static_cast<std::size_t>(w) * h, 0);
    for (std::int32_t r = 0; r < h; ++r)
      for (std::int32_t c = 0; c < w; ++c) pixels[r * w + c] = ScreenPixel(x + c, y + r);
    frame->Width = w;
    frame->Height = h;
    frame->BitsPerPixel = 32;
    frame->BytesPerLine = w * 4;
    frame->Pixels = reinterpret_cast<std::uint8_t*>(pixels.data());
    outstanding = true;
    return true;
  }
  // Re-reads the parts from a screen whose pixels now carry `generation`.
  bool Regrab(WindowHandle, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
              const std::vector<Rect>& parts, Frame* frame) override {
    regrabs.push_back(parts);
    if (!regrabAccepted || pixels.size() != static_cast<std::size_t>(w) * h) return false;
    for (const Rect& p : parts)
      for (std::int32_t r = p.top; r < p.bottom; ++r)
        for (std::int32_t c = p.left; c < p.right; ++c)
          pixels[r * w + c] = ScreenPixel(x + c, y + r) ^ generation;
    frame->Width = w;
    frame->Height = h;
    frame->BitsPerPixel = 32;
    frame->BytesPerLine = w * 4;
    frame->Pixels = reinterpret_cast<std::uint8_t*>(pixels.data());
    outstanding = true;
    return true;
  }
  void ReleaseFrame() override {
    outstanding = false;
    ++releases;
  }
  bool IsPaletteDisplay() override { return palette; }
  bool ReadPalette(WindowHandle, Palette* p) override {
    for (int i = 0; i < 256; ++i) p->Entries[i] = PaletteEntry{std::uint8_t(i), 0, 0, 0};
    return true;
  }
  bool CurrentCursor(CursorImage* c) override {
    if (!cursorShown) return false;
    *c = cursor;
    return true;
  }

  struct GrabCall {
    WindowHandle Source;
    std::int32_t X, Y, W, H;
  };
  std::vector<GrabCall> grabs;
  std::vector<std::uint32_t> pixels;
  bool outstanding = false;
  int releases = 0;
  bool failGrab = false;
  std::vector<std::vector<Rect>> regrabs;
  bool regrabAccepted = true;
  std::uint32_t generation = 0;
  bool palette = false;
  bool cursorShown = true;
  CursorImage cursor;
};

struct RecordingStills : StillImageSink {
  void SaveStill(const Frame& frame, const Palette* palette) override {
    ++saves;
    width = frame.Width;
    height = frame.Height;
    first = *reinterpret_cast<const std::uint32_t*>(frame.Row(0));
    hadPalette = palette != nullptr;
    hasResult = true;
  }
  bool HasLastResult() const override { return hasResult; }
  int saves = 0;
  std::int32_t width = 0, height = 0;
  std::uint32_t first = 0;
  bool hadPalette = false;
  bool hasResult = false;
};

struct RecordingClip : MovieFrameSink {
  void DeliverMovieFrame(const Frame* frame, WindowHandle source, const Rect& rect) override {
    ++deliveries;
    gotFrame = frame != nullptr;
    if (frame != nullptr) {
      delivered.clear();
      for (std::int32_t y = 0; y < frame->Height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(frame->Row(y));
        delivered.insert(delivered.end(), row, row + frame->Width);
      }
    }
    framePalette = frame != nullptr && frame->Colors != nullptr;
    lastSource = source;
    lastRect = rect;
    open = true;
  }
  bool ClipOpen() const override { return open; }
  bool RepeatMovieFrame() override {
    ++repeats;
    return repeatAccepted;
  }
  std::int32_t MovieWidth() const override { return 0; }
  std::int32_t MovieHeight() const override { return 0; }
  std::vector<std::uint32_t> delivered;
  int deliveries = 0;
  int repeats = 0;
  bool repeatAccepted = true;
  bool gotFrame = false;
  bool framePalette = false;
  WindowHandle lastSource = kNoWindow;
  Rect lastRect;
  bool open = false;
};

struct CountingDialog : MainDialogView {
  WindowHandle DialogWindow() const override { return window; }
  void RefreshTitle() override { ++refreshes; }
  WindowHandle window = 77;
  int refreshes = 0;
};

// A 3 × 2 cursor of opaque white with the hot spot at (1, 1) and one half
// transparent pixel (premultiplied grey) at (2, 0).
CursorImage SmallCursor() {
  CursorImage c;
  c.Width = 3;
  c.Height = 2;
  c.XHot = 1;
  c.YHot = 1;
  c.Argb = {0xFFFFFFFF, 0xFFFFFFFF, 0x80404040, 0xFFFFFFFF, 0xFFFFFFFF, 0x00000000};
  return c;
}

struct Canvas {
  Canvas(int w, int h, std::uint32_t fill) : pixels(w * h, fill) {
    frame.Width = w;
    frame.Height = h;
    frame.BitsPerPixel = 32;
    frame.BytesPerLine = w * 4;
    frame.Pixels = reinterpret_cast<std::uint8_t*>(pixels.data());
  }
  std::uint32_t At(int x, int y) const { return pixels[y * frame.Width + x]; }
  std::vector<std::uint32_t> pixels;
  Frame frame;
};

TEST(DrawCursor, HotSpotOnTheEdgesAndClipping) {
  const CursorImage cursor = SmallCursor();
  {
    Canvas c(4, 4, 0x00102030);
    DrawCursor(c.frame, cursor, 0, 0);  // hot spot on the top-left pixel: drawn
    EXPECT_EQ(c.At(0, 0), 0x00FFFFFFu);
    EXPECT_EQ(c.At(1, 0), 0x00102030u) << "(1,0) is under the transparent cursor pixel";
    EXPECT_EQ(c.At(2, 0), 0x00102030u);
  }
  {
    Canvas c(4, 4, 0x00102030);
    DrawCursor(c.frame, cursor, -1, 2);
    DrawCursor(c.frame, cursor, 2, -1);
    for (std::uint32_t p : c.pixels)
      EXPECT_EQ(p, 0x00102030u) << "a negative hot spot draws nothing";
  }
  {
    Canvas c(4, 4, 0x00000000);
    DrawCursor(c.frame, cursor, 3, 3);  // half outside right and bottom: clipped
    EXPECT_EQ(c.At(2, 2), 0x00FFFFFFu);
    EXPECT_EQ(c.At(3, 2), 0x00FFFFFFu);
    EXPECT_EQ(c.At(2, 3), 0x00FFFFFFu);
    EXPECT_EQ(c.At(3, 3), 0x00FFFFFFu);
  }
}

TEST(DrawCursor, PremultipliedAlphaIsBlendedOverTheFrame) {
  Canvas c(4, 4, 0x00C8C8C8);  // grey 200
  DrawCursor(c.frame, SmallCursor(), 1, 1);
  // 0x40 + 200 × (255 − 128) / 255 = 64 + 99.6 → 164 (0xA4)
  EXPECT_EQ(c.At(2, 0), 0x00A4A4A4u);
  EXPECT_EQ(c.At(0, 0), 0x00FFFFFFu);
  EXPECT_EQ(c.At(2, 1), 0x00C8C8C8u) << "fully transparent pixels leave the frame alone";
}

TEST(DrawCursor, SixteenAndEightBitFrames) {
  // 565: white over black must give all channel bits set, padding untouched.
  std::vector<std::uint16_t> px(4 * 4, 0);
  Frame f;
  f.Width = 4;
  f.Height = 4;
  f.BitsPerPixel = 16;
  f.BytesPerLine = 8;
  f.RedMask = 0xF800;
  f.GreenMask = 0x07E0;
  f.BlueMask = 0x001F;
  f.Pixels = reinterpret_cast<std::uint8_t*>(px.data());
  DrawCursor(f, SmallCursor(), 1, 1);
  EXPECT_EQ(px[0], 0xFFFF);
  EXPECT_EQ(px[2], ((0x40 >> 3) << 11) | ((0x40 >> 2) << 5) | (0x40 >> 3)) << std::hex << px[2];

  // 8-bit: the blended colour becomes the nearest palette entry.
  Palette pal;
  for (int i = 0; i < 256; ++i)
    pal.Entries[i] = PaletteEntry{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
  pal.Entries[9] = PaletteEntry{255, 255, 255, 0};
  pal.Entries[255] = PaletteEntry{0, 0, 255, 0};
  std::vector<std::uint8_t> idx(16, 3);
  Frame g;
  g.Width = 4;
  g.Height = 4;
  g.BitsPerPixel = 8;
  g.BytesPerLine = 4;
  g.Pixels = idx.data();
  DrawCursor(g, SmallCursor(), 1, 1, &pal);
  EXPECT_EQ(idx[0], 9) << "white is entry 9";
  EXPECT_EQ(idx[2], 65) << "0x40 + 3 × 127/255 ≈ 65";
  DrawCursor(g, SmallCursor(), 1, 1, nullptr);  // no palette: nothing to map to, no crash
}

class FrameGrabberTest : public ::testing::Test {
 protected:
  FrameGrabberTest() {
    links.Stills = &stills;
    links.Clip = &clip;
    links.Dialog = &dialog;
    settings.SetUseMainAppWindow(false);
    settings.SetUseArea(true);
    settings.SetHasMarkUserArea(true);
    settings.SetUserArea(Rect{10, 20, 13, 22});  // 4 × 3 at (10, 20)
    windows.pointer = Point{11, 21};
    screen.cursor = SmallCursor();
  }
  Settings settings;
  FakeWindowSystem windows;
  FakeScreen screen;
  RecordingStills stills;
  RecordingClip clip;
  CountingDialog dialog;
  CaptureLinks links;
  CaptureTarget target{settings, windows, links};
  FrameGrabber grabber{settings, screen, target, links};
};

TEST_F(FrameGrabberTest, StillShotGrabsTheRegionAndDrawsTheCursor) {
  settings.SetPutCursorInBitmap(false);
  grabber.TakeShot();
  ASSERT_EQ(screen.grabs.size(), 1u);
  EXPECT_EQ(screen.grabs[0].Source, FakeWindowSystem::kRoot);
  EXPECT_EQ(screen.grabs[0].X, 10);
  EXPECT_EQ(screen.grabs[0].Y, 20);
  EXPECT_EQ(stills.saves, 1);
  EXPECT_EQ(stills.width, 4);
  EXPECT_EQ(stills.height, 3);
  EXPECT_EQ(stills.first, ScreenPixel(10, 20)) << "without the cursor the frame is the screen";
  EXPECT_FALSE(stills.hadPalette);
  EXPECT_FALSE(screen.outstanding) << "the frame is released before the shot returns";
  EXPECT_EQ(dialog.refreshes, 1) << "the last result turned non-empty";

  settings.SetPutCursorInBitmap(true);
  grabber.TakeShot();
  EXPECT_EQ(stills.first, 0x00FFFFFFu) << "cursor hot spot at (1,1) of the region covers (0,0)";
  EXPECT_EQ(dialog.refreshes, 1) << "nothing changed for the title";
  EXPECT_EQ(clip.deliveries, 0);

  screen.cursorShown = false;
  grabber.TakeShot();
  EXPECT_EQ(stills.first, ScreenPixel(10, 20)) << "a hidden cursor is not drawn";
}

TEST_F(FrameGrabberTest, PaletteTravelsOnlyOnPaletteDisplays) {
  screen.palette = true;
  grabber.TakeShot();
  EXPECT_TRUE(stills.hadPalette);

  settings.SetOutputType(OutputTypes::AviUncompressed);
  grabber.TakeShot();
  EXPECT_TRUE(clip.framePalette) << "movie frames carry the palette for composition";
  screen.palette = false;
  grabber.TakeShot();
  EXPECT_FALSE(clip.framePalette);
}

TEST_F(FrameGrabberTest, MovieShotsGoToTheClipAndEncoderShotsGrabNothing) {
  settings.SetOutputType(OutputTypes::AviUncompressed);
  grabber.TakeShot();
  EXPECT_EQ(clip.deliveries, 1);
  EXPECT_TRUE(clip.gotFrame);
  EXPECT_EQ(clip.lastSource, FakeWindowSystem::kRoot);
  EXPECT_EQ(clip.lastRect, (Rect{-1, -1, -1, -1}));
  EXPECT_EQ(stills.saves, 0);
  EXPECT_EQ(dialog.refreshes, 1) << "the clip opened";

  for (int type : {ScreenEncoderOutputType, BroadcastOutputType}) {
    screen.grabs.clear();
    settings.SetOutputType(type);
    grabber.TakeShot();
    EXPECT_TRUE(screen.grabs.empty()) << "no pixels are grabbed for the encoder, type " << type;
    EXPECT_FALSE(clip.gotFrame);
    EXPECT_EQ(clip.lastRect, (Rect{10, 20, 13, 22}));
  }
}

TEST_F(FrameGrabberTest, FailedGrabsAndResizesTakeNoFrame) {
  screen.failGrab = true;
  grabber.TakeShot();
  EXPECT_EQ(stills.saves, 0);
  EXPECT_FALSE(screen.outstanding);

  screen.failGrab = false;
  settings.SetUserArea(Rect{10, 20, 9, 22});  // zero width
  grabber.TakeShot();
  EXPECT_EQ(stills.saves, 0);

  settings.SetUseArea(false);
  settings.SetUseForegrounWindow(true);
  settings.SetResizeFGWindow(true);
  windows.Add(5, Rect{0, 0, 100, 100});
  windows.foreground = 5;
  screen.grabs.clear();
  grabber.TakeShot();
  EXPECT_TRUE(screen.grabs.empty()) << "a resized window is captured by the next shot";
  EXPECT_EQ(windows.resizes.size(), 1u);
}

}  // namespace
}  // namespace framory

namespace framory {
namespace {

// A change watch whose answer the test sets, recording what it was asked.
struct ScriptedChanges : ScreenChangeWatch {
  bool Unchanged(const ShotView& view) override {
    asked.push_back(view);
    return unchanged;
  }
  bool FrameTaken(const ShotView& view, std::vector<Rect>* drawn) override {
    taken.push_back(view);
    if (drawn != nullptr) *drawn = drawnRects;
    return drawnKnown;
  }
  bool drawnKnown = false;
  std::vector<Rect> drawnRects;
  void Forget() override {}
  bool unchanged = false;
  std::vector<ShotView> asked;
  std::vector<ShotView> taken;
};

TEST_F(FrameGrabberTest, AnUnchangedScreenIsARepeatForMoviesButNeverForPictures) {
  ScriptedChanges changes;
  grabber.SetChangeWatch(&changes);
  changes.unchanged = true;

  // Pictures are always taken, whatever the screen did.
  grabber.TakeShot();
  EXPECT_EQ(stills.saves, 1);
  EXPECT_TRUE(changes.asked.empty());

  // The first movie shot opens the clip with a real frame, and tells the
  // watch what it looked at just before grabbing.
  settings.SetOutputType(OutputTypes::AviDivx);
  grabber.TakeShot();
  EXPECT_EQ(clip.deliveries, 1);
  ASSERT_EQ(changes.taken.size(), 1u);
  EXPECT_EQ(changes.taken[0].ScreenRect, (Rect{10, 20, 13, 22}));
  EXPECT_EQ(changes.taken[0].CursorPosition, (Point{1, 1}));
  EXPECT_TRUE(changes.taken[0].CursorDrawn);

  // With the clip open, an unchanged screen grabs nothing.
  screen.grabs.clear();
  grabber.TakeShot();
  EXPECT_TRUE(screen.grabs.empty());
  EXPECT_EQ(clip.repeats, 1);
  EXPECT_EQ(clip.deliveries, 1);

  // A changed screen, or a clip that cannot repeat, gets the full frame.
  changes.unchanged = false;
  grabber.TakeShot();
  EXPECT_EQ(screen.grabs.size(), 1u);
  EXPECT_EQ(clip.deliveries, 2);
  changes.unchanged = true;
  clip.repeatAccepted = false;
  grabber.TakeShot();
  EXPECT_EQ(screen.grabs.size(), 2u);
  EXPECT_EQ(clip.deliveries, 3);
  EXPECT_EQ(changes.taken.size(), 3u);

  // The pointer moving within the region is part of what is compared.
  windows.pointer = Point{12, 21};
  grabber.TakeShot();
  EXPECT_EQ(changes.asked.back().CursorPosition, (Point{2, 1}));
}

}  // namespace
}  // namespace framory

namespace framory {
namespace {

// The kept frame as the screen shows it at `generation`.
std::vector<std::uint32_t> ScreenArea(int x, int y, int w, int h, std::uint32_t generation = 0) {
  std::vector<std::uint32_t> area;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) area.push_back(ScreenPixel(x + c, y + r) ^ generation);
  return area;
}

TEST_F(FrameGrabberTest, ASmallChangeIsReadPartByPartAndThePointerNeverStaysInTheKeptFrame) {
  ScriptedChanges changes;
  grabber.SetChangeWatch(&changes);
  settings.SetOutputType(OutputTypes::QuickTimeMov);
  settings.SetUserArea(Rect{10, 20, 17, 27});  // 8 × 8 at (10, 20)
  changes.drawnKnown = true;

  // The first frame: the grabber has nothing kept and refuses; a whole grab.
  screen.regrabAccepted = false;
  grabber.TakeShot();
  ASSERT_EQ(screen.grabs.size(), 1u);
  EXPECT_EQ(clip.delivered[0], 0x00FFFFFFu) << "the pointer is in the frame handed on";
  EXPECT_EQ(screen.pixels, ScreenArea(10, 20, 8, 8)) << "and not in the frame kept";

  // A 2 × 3 change at screen (14, 23), plus damage outside the region.
  screen.regrabAccepted = true;
  screen.generation = 0x0F0F0F;
  changes.drawnRects = {Rect{14, 23, 16, 26}, Rect{100, 100, 120, 120}};
  windows.pointer = Point{13, 22};  // the pointer moved too
  grabber.TakeShot();
  ASSERT_EQ(screen.regrabs.size(), 2u);
  EXPECT_EQ(screen.grabs.size(), 1u) << "no whole grab";
  ASSERT_EQ(screen.regrabs[1], (std::vector<Rect>{Rect{4, 3, 6, 6}}))
      << "region coordinates, outside damage dropped";
  std::vector<std::uint32_t> expected = ScreenArea(10, 20, 8, 8);
  for (int r = 3; r < 6; ++r)
    for (int c = 4; c < 6; ++c) expected[r * 8 + c] ^= 0x0F0F0F;
  EXPECT_EQ(screen.pixels, expected) << "the old pointer at (0,0) is gone, the change is in";
  EXPECT_EQ(clip.delivered[2 * 8 + 2], 0x00FFFFFFu) << "the pointer at its new place";
  EXPECT_EQ(clip.delivered[0], ScreenPixel(10, 20));

  // Too much drawn (over a quarter), or not known: the whole region.
  changes.drawnRects = {Rect{10, 20, 15, 25}};
  grabber.TakeShot();
  EXPECT_EQ(screen.grabs.size(), 2u);
  EXPECT_EQ(screen.regrabs.size(), 2u) << "a large change is not offered for a partial read";
  changes.drawnKnown = false;
  changes.drawnRects = {Rect{14, 23, 15, 24}};
  grabber.TakeShot();
  EXPECT_EQ(screen.grabs.size(), 3u);

  // Still pictures never read part by part, and leave the kept frame clean.
  changes.drawnKnown = true;
  settings.SetOutputType(OutputTypes::Png);
  grabber.TakeShot();
  EXPECT_EQ(screen.grabs.size(), 4u);
  EXPECT_EQ(screen.regrabs.size(), 2u);
  EXPECT_EQ(screen.pixels, ScreenArea(10, 20, 8, 8));
}

TEST(CursorFootprint, CoversWhatDrawCursorChangesAndNothingForHiddenSpots) {
  const CursorImage cursor = SmallCursor();  // 3 × 2, hot spot (1, 1)
  Canvas canvas(4, 3, 0x123456);
  EXPECT_EQ(CursorFootprint(canvas.frame, cursor, 1, 1), (Rect{0, 0, 3, 2}));
  EXPECT_EQ(CursorFootprint(canvas.frame, cursor, 3, 2), (Rect{2, 1, 4, 3})) << "clipped";
  EXPECT_EQ(CursorFootprint(canvas.frame, cursor, -1, 1), Rect{}) << "not drawn";
  EXPECT_EQ(CursorFootprint(canvas.frame, cursor, 0x7FFFFFFF, 0x7FFFFFFF), Rect{});
  CursorImage huge = cursor;
  huge.XHot = -0x7FFFFFFF;
  EXPECT_EQ(CursorFootprint(canvas.frame, huge, 5, 1), Rect{}) << "far right, no wrap";
  // Every pixel DrawCursor touches lies in the footprint.
  for (int x = 0; x < 6; ++x) {
    for (int y = 0; y < 5; ++y) {
      Canvas c(4, 3, 0x123456);
      DrawCursor(c.frame, cursor, x, y);
      const Rect f = CursorFootprint(c.frame, cursor, x, y);
      for (int py = 0; py < 3; ++py)
        for (int px = 0; px < 4; ++px)
          if (c.At(px, py) != 0x123456u) {
            EXPECT_TRUE(px >= f.left && px < f.right && py >= f.top && py < f.bottom)
                << x << "," << y << " touched " << px << "," << py;
          }
    }
  }
}

}  // namespace
}  // namespace framory
