// xvfb-depth: 8
// Still images end to end on an 8-bit PseudoColor Xvfb screen: TakeShot over
// the X11 window system and screen grabber hands each 8-bit frame and the
// colormap to the still-image writer. The files must be palette images (BMP,
// PNG, PCX) that carry all 256 colormap colours and decode, with independent
// decoders, to exactly the colours the screen shows; a JPEG of a colour
// palette is refused and leaves no file.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/ImageDecode.h"
#include "support/StillImageRig.h"

namespace framory {
namespace {

using namespace framory::testing;

using Rgb = std::array<std::uint8_t, 3>;

struct ScreenArea {
  int Width = 0, Height = 0;
  std::vector<unsigned long> Indices;  // top-down, as the server holds them
  std::array<Rgb, 256> Colormap{};     // the colours of the installed colormap
  Rgb At(int x, int y) const { return Colormap[Indices[y * Width + x] & 0xFF]; }
};

Rgb RgbAt(const RgbImage& image, int x, int y) {
  const std::uint8_t* p = image.At(x, y);
  return Rgb{p[0], p[1], p[2]};
}

Rgb RgbFrom(const std::string& bytes, std::size_t at, bool bgr) {
  const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[at + i]); };
  return bgr ? Rgb{b(2), b(1), b(0)} : Rgb{b(0), b(1), b(2)};
}

class StillImages8bitTest : public StillImageRig {
 protected:
  void SetUp() override {
    StillImageRig::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(windows.Depth(), 8);
    ASSERT_TRUE(screen.IsPaletteDisplay());
  }

  // Allocates up to `count` distinct read-only colours in the default
  // colormap (fewer when it fills up); returns their indices.
  std::vector<unsigned long> AllocateColours(int count) {
    Display* display = windows.display();
    std::vector<unsigned long> indices;
    for (int i = 0; i < count; ++i) {
      XColor colour{};
      colour.red = static_cast<unsigned short>(((i * 37 + 11) & 0xFF) * 257);
      colour.green = static_cast<unsigned short>(((i * 91 + 50) & 0xFF) * 257);
      colour.blue = static_cast<unsigned short>(((i * 53 + 100 + i / 64) & 0xFF) * 257);
      colour.flags = DoRed | DoGreen | DoBlue;
      if (!XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &colour)) break;
      if (std::find(indices.begin(), indices.end(), colour.pixel) == indices.end())
        indices.push_back(colour.pixel);
    }
    return indices;
  }

  // A window whose background shows `indexAt(x, y)` at each pixel.
  template <typename IndexAt>
  Window CreateIndexPattern(int x, int y, int width, int height, IndexAt indexAt) {
    Display* display = windows.display();
    Window window = windows.CreateSolid(x, y, width, height, 0, true);
    Pixmap pixmap = XCreatePixmap(display, window, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), 8);
    XImage* image =
        XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), 8, ZPixmap, 0,
                     nullptr, static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    image->data = static_cast<char*>(std::calloc(image->bytes_per_line, height));
    for (int row = 0; row < height; ++row)
      for (int column = 0; column < width; ++column)
        XPutPixel(image, column, row, indexAt(column, row));
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    XPutImage(display, pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
    XFreeGC(display, gc);
    XDestroyImage(image);
    XSetWindowBackgroundPixmap(display, window, pixmap);
    XFreePixmap(display, pixmap);  // the window keeps its own reference
    return window;
  }

  // What the screen shows in the inclusive rectangle, read straight from the
  // server: the pixel indices and the installed colormap's colours.
  ScreenArea ReadScreen(const Rect& area) {
    Display* display = windows.display();
    ScreenArea result;
    result.Width = area.right - area.left + 1;
    result.Height = area.bottom - area.top + 1;
    XImage* image =
        XGetImage(display, windows.root(), area.left, area.top, static_cast<unsigned>(result.Width),
                  static_cast<unsigned>(result.Height), AllPlanes, ZPixmap);
    EXPECT_NE(image, nullptr);
    if (image == nullptr) return result;
    for (int y = 0; y < result.Height; ++y)
      for (int x = 0; x < result.Width; ++x) result.Indices.push_back(XGetPixel(image, x, y));
    XDestroyImage(image);

    Colormap colormap = DefaultColormap(display, DefaultScreen(display));
    int count = 0;
    Colormap* installed = XListInstalledColormaps(display, windows.root(), &count);
    if (installed != nullptr && count > 0) colormap = installed[0];
    if (installed != nullptr) XFree(installed);
    XColor colours[256];
    for (int i = 0; i < 256; ++i) {
      colours[i].pixel = static_cast<unsigned long>(i);
      colours[i].flags = DoRed | DoGreen | DoBlue;
    }
    XQueryColors(display, colormap, colours, 256);
    for (int i = 0; i < 256; ++i) {
      result.Colormap[i] = Rgb{static_cast<std::uint8_t>(colours[i].red >> 8),
                               static_cast<std::uint8_t>(colours[i].green >> 8),
                               static_cast<std::uint8_t>(colours[i].blue >> 8)};
    }
    return result;
  }

  // Counts the pixels of `decoded` that differ from the screen's colours.
  static int WrongPixels(const RgbImage& decoded, const ScreenArea& screenArea) {
    if (decoded.Width != screenArea.Width || decoded.Height != screenArea.Height) return -1;
    int wrong = 0;
    for (int y = 0; y < decoded.Height; ++y)
      for (int x = 0; x < decoded.Width; ++x) wrong += RgbAt(decoded, x, y) != screenArea.At(x, y);
    return wrong;
  }

  // Decodes `path` with `tool` (and libpng for PNG files) and expects every
  // pixel to be the colour the screen shows.
  void ExpectScreenColours(const std::string& path, const char* tool,
                           const ScreenArea& screenArea) {
    SCOPED_TRACE(path);
    std::vector<RgbImage> decodings;
    std::string error;
    if (HaveTool(tool)) {
      decodings.emplace_back();
      ASSERT_TRUE(DecodeWithTool(tool, path, &decodings.back(), &error)) << error;
    }
    if (path.ends_with(".png")) {
      decodings.emplace_back();
      PngFacts facts;
      ASSERT_TRUE(DecodePng(path, &decodings.back(), &facts, &error)) << error;
    }
    ASSERT_FALSE(decodings.empty()) << "no decoder for " << path;
    for (const RgbImage& decoded : decodings)
      EXPECT_EQ(WrongPixels(decoded, screenArea), 0) << "pixels that differ from the screen";
  }
};

TEST_F(StillImages8bitTest, PaletteFilesHoldTheColormapAndTheScreenColours) {
  // Many colours, so that indices of 0xC0 and above (which PCX must escape)
  // are on the screen too.
  const std::vector<unsigned long> colours = AllocateColours(230);
  ASSERT_GE(colours.size(), 100u);
  ASSERT_GE(*std::max_element(colours.begin(), colours.end()), 0xC0u);
  const int n = static_cast<int>(colours.size());
  // Whole lines of one colour (runs longer than 63), 3-pixel runs and single
  // pixels of every allocated colour; an odd width makes BMP rows and PCX
  // lines padded.
  auto indexAt = [&](int x, int y) {
    if (y < 6) return colours[y];
    return colours[((x / 3) * 7 + (y / 2) * 13 + (x % 3 == 1 ? 5 : 0)) % n];
  };
  Window pattern = CreateIndexPattern(100, 100, 131, 70, indexAt);
  ASSERT_TRUE(windows.MapAndWait(pattern));
  const unsigned long red = windows.Pixel(255, 0, 0);
  Window block = windows.CreateSolid(240, 100, 60, 60, red, true);
  ASSERT_TRUE(windows.MapAndWait(block));
  ASSERT_TRUE(windows.WaitForScreenPixel(230, 169, indexAt(130, 69)));
  ASSERT_TRUE(windows.WaitForScreenPixel(299, 159, red));

  const Rect patternArea{100, 100, 230, 169};  // 131 × 70: fewer than 65,536 pixels
  const Rect largeArea{0, 0, 319, 239};        // 320 × 240: more than 65,536 pixels
  const ScreenArea onScreen = ReadScreen(patternArea);
  const ScreenArea onScreenLarge = ReadScreen(largeArea);
  // The screen really shows the pattern, so the comparisons below mean
  // something.
  ASSERT_EQ(onScreen.Indices.size(), 131u * 70u);
  int notPattern = 0;
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 131; ++x) notPattern += onScreen.Indices[y * 131 + x] != indexAt(x, y);
  ASSERT_EQ(notPattern, 0);
  EXPECT_EQ(onScreenLarge.At(270, 130), (Rgb{255, 0, 0}));

  ShootArea(OutputTypes::Bmp, patternArea);
  ShootArea(OutputTypes::Pcx, patternArea);
  ShootArea(OutputTypes::Png, patternArea);
  ShootArea(OutputTypes::Png, largeArea);
  EXPECT_EQ(naming.LastResult(), Folder() + "/pic3.png");

  // BMP: 8 bits a pixel, 256 palette entries that are the colormap, rows of
  // 132 bytes (131 rounded up to 4).
  {
    const std::string bmp = ReadWholeFile(Folder() + "/pic0.bmp");
    ASSERT_GE(bmp.size(), 54u + 1024u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bmp, 10), 14u + 40u + 1024u) << "pixel offset";
    EXPECT_EQ(Le16(bmp, 28), 8u) << "biBitCount";
    EXPECT_EQ(Le32(bmp, 46), 256u) << "biClrUsed";
    EXPECT_EQ(Le32(bmp, 2), 1078u + 132u * 70u) << "file size field";
    EXPECT_EQ(bmp.size(), 1078u + 132u * 70u);
    int wrongEntries = 0;
    for (int i = 0; i < 256; ++i)
      wrongEntries += RgbFrom(bmp, 54 + 4 * i, true) != onScreen.Colormap[i];
    EXPECT_EQ(wrongEntries, 0) << "the BMP palette is the colormap";
    ExpectScreenColours(Folder() + "/pic0.bmp", "bmptopnm", onScreen);
  }

  // PCX: 8 bits, one plane, bytes per line 132 (131 made even), palette
  // information 0, and the 0x0C trailer with the 256 colormap colours.
  {
    const std::string pcx = ReadWholeFile(Folder() + "/pic1.pcx");
    ASSERT_GE(pcx.size(), 128u + 769u);
    EXPECT_EQ(static_cast<std::uint8_t>(pcx[0]), 0x0Au);
    EXPECT_EQ(pcx[1], 5);
    EXPECT_EQ(pcx[2], 1);
    EXPECT_EQ(pcx[3], 8) << "bits per pixel per plane";
    EXPECT_EQ(Le16(pcx, 8), 130u);
    EXPECT_EQ(Le16(pcx, 10), 69u);
    EXPECT_EQ(pcx[65], 1) << "planes";
    EXPECT_EQ(Le16(pcx, 66), 132u) << "bytes per line";
    EXPECT_EQ(Le16(pcx, 68), 0u) << "palette information";
    const std::size_t trailer = pcx.size() - 769;
    EXPECT_EQ(static_cast<std::uint8_t>(pcx[trailer]), 0x0Cu);
    int wrongEntries = 0;
    for (int i = 0; i < 256; ++i)
      wrongEntries += RgbFrom(pcx, trailer + 1 + 3 * i, false) != onScreen.Colormap[i];
    EXPECT_EQ(wrongEntries, 0) << "the PCX palette trailer is the colormap";
    ExpectScreenColours(Folder() + "/pic1.pcx", "pcxtoppm", onScreen);
  }

  // PNG: colour type 3 with a PLTE before the pixels. The small picture
  // carries the palette up to its highest index; the large one all 256.
  {
    unsigned long highest = 0;
    for (unsigned long index : onScreen.Indices) highest = std::max(highest, index);
    struct PngCase {
      const char* name;
      const ScreenArea* area;
      int paletteSize;
    };
    for (const PngCase& file : {PngCase{"pic2.png", &onScreen, static_cast<int>(highest) + 1},
                                PngCase{"pic3.png", &onScreenLarge, 256}}) {
      SCOPED_TRACE(file.name);
      const std::string path = Folder() + "/" + file.name;
      RgbImage decoded;
      PngFacts facts;
      std::string error;
      ASSERT_TRUE(DecodePng(path, &decoded, &facts, &error)) << error;
      EXPECT_EQ(facts.ColorType, 3) << "palette image";
      EXPECT_EQ(facts.BitDepth, 8);
      EXPECT_EQ(facts.PaletteSize, file.paletteSize);
      const auto plte = std::find(facts.Chunks.begin(), facts.Chunks.end(), "PLTE");
      const auto idat = std::find(facts.Chunks.begin(), facts.Chunks.end(), "IDAT");
      EXPECT_TRUE(plte != facts.Chunks.end() && plte < idat) << "PLTE before IDAT";
      EXPECT_FALSE(facts.HasTransparency);
      ExpectScreenColours(path, "pngtopnm", *file.area);
    }
    // The large PNG's palette is the whole colormap.
    const std::string png = ReadWholeFile(Folder() + "/pic3.png");
    const std::size_t at = png.find("PLTE");
    ASSERT_NE(at, std::string::npos);
    ASSERT_GE(at, 4u);
    const std::string length = png.substr(at - 4, 4);  // big-endian in PNG
    EXPECT_EQ(Le32(std::string(length.rbegin(), length.rend()), 0), 768u) << "PLTE length";
    int wrongEntries = 0;
    for (int i = 0; i < 256; ++i)
      wrongEntries += RgbFrom(png, at + 4 + 3 * i, false) != onScreenLarge.Colormap[i];
    EXPECT_EQ(wrongEntries, 0) << "the PNG palette is the colormap";
  }
}

TEST_F(StillImages8bitTest, JpegOfAColourPaletteIsLeftEmptyAndTheRecorderCarriesOn) {
  const unsigned long teal = windows.Pixel(0, 128, 160);
  const unsigned long olive = windows.Pixel(120, 130, 20);
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(10, 10, 32, 32, teal, true)));
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(42, 10, 32, 32, olive, true)));
  ASSERT_TRUE(windows.WaitForScreenPixel(73, 41, olive));
  const Rect area{10, 10, 73, 41};
  const ScreenArea onScreen = ReadScreen(area);
  ASSERT_EQ(onScreen.At(0, 0), onScreen.Colormap[teal]);
  ASSERT_NE(onScreen.Colormap[teal], (Rgb{0, 0, 0}));

  ShootArea(OutputTypes::Jpg, area);
  EXPECT_EQ(naming.LastResult(), Folder() + "/pic0.jpg");
  EXPECT_FALSE(std::filesystem::exists(Folder() + "/pic0.jpg")) << "no empty file is left";

  // A second JPEG takes the next number and fails the same way; a BMP after
  // them is written as usual.
  ShootArea(OutputTypes::Jpg, area);
  EXPECT_EQ(naming.LastResult(), Folder() + "/pic1.jpg");
  EXPECT_FALSE(std::filesystem::exists(Folder() + "/pic1.jpg"));
  ShootArea(OutputTypes::Bmp, area);
  EXPECT_EQ(naming.LastResult(), Folder() + "/pic2.bmp");
  ExpectScreenColours(Folder() + "/pic2.bmp", "bmptopnm", onScreen);
}

TEST_F(StillImages8bitTest, AnInstalledGreyRampColormapGivesGreyFilesAndAGreyscaleJpeg) {
  // An application installs its own colormap: entry i is grey level i. The
  // whole screen is then shown through it, and that is what the files hold.
  Display* display = windows.display();
  Visual* visual = DefaultVisual(display, DefaultScreen(display));
  Colormap grey = XCreateColormap(display, windows.root(), visual, AllocAll);
  XColor ramp[256];
  for (int i = 0; i < 256; ++i) {
    ramp[i].pixel = static_cast<unsigned long>(i);
    ramp[i].red = ramp[i].green = ramp[i].blue = static_cast<unsigned short>(i * 257);
    ramp[i].flags = DoRed | DoGreen | DoBlue;
  }
  XStoreColors(display, grey, ramp, 256);
  // A horizontal gradient of indices (smooth, so JPEG keeps it closely) over
  // an odd width.
  auto indexAt = [](int x, int y) { return static_cast<unsigned long>((2 * x + y / 8) & 0xFF); };
  Window gradient = CreateIndexPattern(500, 300, 125, 48, indexAt);
  ASSERT_TRUE(windows.MapAndWait(gradient));
  ASSERT_TRUE(windows.WaitForScreenPixel(624, 347, indexAt(124, 47)));
  XInstallColormap(display, grey);
  ASSERT_TRUE(X11TestWindows::WaitFor([&] {
    int count = 0;
    Colormap* installed = XListInstalledColormaps(display, windows.root(), &count);
    const bool ours = installed != nullptr && count > 0 && installed[0] == grey;
    if (installed != nullptr) XFree(installed);
    return ours;
  }));

  const Rect area{500, 300, 624, 347};
  const ScreenArea onScreen = ReadScreen(area);
  for (int i = 0; i < 256; ++i) {
    const auto level = static_cast<std::uint8_t>(i);
    ASSERT_EQ(onScreen.Colormap[i], (Rgb{level, level, level})) << "colormap entry " << i;
  }

  ShootArea(OutputTypes::Jpg, area);
  ShootArea(OutputTypes::Bmp, area);
  ShootArea(OutputTypes::Png, area);
  XUninstallColormap(display, grey);
  XFreeColormap(display, grey);

  ExpectScreenColours(Folder() + "/pic1.bmp", "bmptopnm", onScreen);
  ExpectScreenColours(Folder() + "/pic2.png", "pngtopnm", onScreen);

  // The grey ramp is the one palette JPEG takes: one component, grey levels
  // equal to the indices, within JPEG's loss.
  ASSERT_GT(std::filesystem::file_size(Folder() + "/pic0.jpg"), 0u);
  RgbImage jpeg;
  JpegFacts facts;
  std::string error;
  ASSERT_TRUE(DecodeJpeg(Folder() + "/pic0.jpg", &jpeg, &facts, &error)) << error;
  EXPECT_EQ(facts.Components, 1) << "a greyscale JPEG";
  EXPECT_TRUE(facts.Baseline);
  RgbImage expected{125, 48, {}};
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 125; ++x) {
      const Rgb c = onScreen.At(x, y);
      expected.Rgb.insert(expected.Rgb.end(), c.begin(), c.end());
    }
  }
  EXPECT_LT(MeanChannelDifference(jpeg, expected), 3.0);
}

}  // namespace
}  // namespace framory
