// PNG encoder: chunks and their values, palette sizes, exact round trips
// through libpng and netpbm, and the texts of its failures.
#include "imaging/CxImagePNG.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "imaging/CxMemFile.h"
#include "support/ImageDecode.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using namespace framory::testing;

bool SaveAndDecode(CxImage& image, const std::string& path, RgbImage* decoded, PngFacts* facts) {
  if (!image.SaveFile(path.c_str(), 3)) {
    ADD_FAILURE() << "save failed: " << image.LastError();
    return false;
  }
  std::string error;
  if (!DecodePng(path, decoded, facts, &error)) {
    ADD_FAILURE() << "libpng cannot read it: " << error;
    return false;
  }
  return true;
}

TEST(CxImagePNGTest, TwentyFourBitFilesCarryRgbWhiteBackgroundAndResolution) {
  TempDir dir;
  CxImage image(0);
  ASSERT_NE(image.Create(33, 7, 24, 0), nullptr);
  FillTestPicture(&image);
  RgbImage decoded;
  PngFacts facts;
  ASSERT_TRUE(SaveAndDecode(image, dir.File("pic0.png"), &decoded, &facts));
  EXPECT_EQ(facts.ColorType, 2);
  EXPECT_EQ(facts.BitDepth, 8);
  EXPECT_EQ(facts.Chunks, (std::vector<std::string>{"IHDR", "bKGD", "pHYs", "IDAT", "IEND"}))
      << "IDAT may only be split, never reordered";
  EXPECT_TRUE(facts.HasBackground);
  EXPECT_EQ(facts.BackgroundRed, 255);
  EXPECT_EQ(facts.BackgroundGreen, 255);
  EXPECT_EQ(facts.BackgroundBlue, 255);
  EXPECT_TRUE(facts.HasPhys);
  EXPECT_EQ(facts.PhysX, 3780u);
  EXPECT_EQ(facts.PhysY, 3780u);
  EXPECT_EQ(facts.PhysUnit, 1) << "per metre";
  EXPECT_FALSE(facts.HasTransparency);
  EXPECT_EQ(MaxChannelDifference(decoded, ExpectedPixels(image)), 0);
}

TEST(CxImagePNGTest, PaletteFilesPutPlteBeforeBackgroundIndexZero) {
  TempDir dir;
  CxImage image(0);
  ASSERT_NE(image.Create(300, 300, 8, 0), nullptr);  // 90,000 pixels
  FillTestPicture(&image);
  RgbImage decoded;
  PngFacts facts;
  ASSERT_TRUE(SaveAndDecode(image, dir.File("pic0.png"), &decoded, &facts));
  EXPECT_EQ(facts.ColorType, 3);
  EXPECT_EQ(facts.BitDepth, 8);
  ASSERT_GE(facts.Chunks.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(facts.Chunks.begin(), facts.Chunks.begin() + 4),
            (std::vector<std::string>{"IHDR", "PLTE", "bKGD", "pHYs"}));
  EXPECT_EQ(facts.BackgroundIndex, 0);
  EXPECT_EQ(facts.PaletteSize, 256) << "65,536 pixels or more keep the whole palette";
  EXPECT_FALSE(facts.HasTransparency);
}

TEST(CxImagePNGTest, SmallPaletteImagesWriteOnlyUpToTheHighestIndexUsed) {
  TempDir dir;
  struct Case {
    std::uint32_t bpp, width, height;
    std::uint8_t highest;
    int expectedPalette;
  };
  const Case cases[] = {
      {8, 255, 257, 40, 41},   // 65,535 pixels: the small rule applies
      {8, 256, 256, 40, 256},  // 65,536 pixels: whole palette
      {8, 10, 10, 0, 1},       // every pixel index 0
      {4, 31, 3, 9, 10},       // a nibble at an odd position
      {1, 40, 40, 0, 2},       // two colours are always written in full
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bpp) + " bits " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    CxImage image(0);
    ASSERT_NE(image.Create(c.width, c.height, c.bpp, 0), nullptr);
    FillTestPicture(&image);
    for (std::uint32_t y = 0; y < c.height; ++y)
      std::memset(image.TopDownRow(y), 0, image.EffectiveWidth());
    // The highest index sits on the last pixel of the bottom line.
    std::uint8_t* last = image.TopDownRow(c.height - 1);
    const std::uint32_t x = c.width - 1;
    if (c.bpp == 8) last[x] = c.highest;
    if (c.bpp == 4) last[x / 2] |= (x & 1) ? c.highest : c.highest << 4;
    RgbImage decoded;
    PngFacts facts;
    ASSERT_TRUE(SaveAndDecode(image, dir.File("pal.png"), &decoded, &facts));
    EXPECT_EQ(facts.PaletteSize, c.expectedPalette);
    EXPECT_EQ(facts.BitDepth, static_cast<int>(c.bpp));
    EXPECT_EQ(MaxChannelDifference(decoded, ExpectedPixels(image)), 0);
  }
}

TEST(CxImagePNGTest, DecodesExactlyAtEveryDepthAndSize) {
  TempDir dir;
  const bool haveNetpbm = HaveTool("pngtopnm");
  for (std::uint32_t bpp : {1u, 4u, 8u, 24u}) {
    for (const PictureSize& size : kRoundTripSizes) {
      SCOPED_TRACE(std::to_string(bpp) + " bits, " + std::to_string(size.Width) + "x" +
                   std::to_string(size.Height));
      CxImage image(0);
      ASSERT_NE(image.Create(size.Width, size.Height, bpp, 0), nullptr);
      FillTestPicture(&image, size.Width * 5 + bpp);
      const std::string path = dir.File("pic.png");
      RgbImage decoded;
      PngFacts facts;
      ASSERT_TRUE(SaveAndDecode(image, path, &decoded, &facts));
      const RgbImage expected = ExpectedPixels(image);
      EXPECT_EQ(MaxChannelDifference(decoded, expected), 0) << "libpng";
      if (haveNetpbm) {
        RgbImage viaTool;
        std::string error;
        ASSERT_TRUE(DecodeWithTool("pngtopnm", path, &viaTool, &error)) << error;
        EXPECT_EQ(MaxChannelDifference(viaTool, expected), 0) << "pngtopnm";
      }
    }
  }
}

TEST(CxImagePNGTest, WriteFailuresGiveErrorSavingPngFile) {
  CxImage image(0);
  ASSERT_NE(image.Create(200, 200, 24, 0), nullptr);
  FillTestPicture(&image);
  for (std::size_t limit : {0u, 8u, 40u, 20000u}) {
    FailingFile file(limit);
    EXPECT_FALSE(image.Encode(&file, 3)) << "limit " << limit;
    EXPECT_STREQ(image.LastError(), "Error saving PNG file") << "limit " << limit;
  }
  FailingFile flushFails(1u << 24, true);
  EXPECT_FALSE(image.Encode(&flushFails, 3));
  EXPECT_STREQ(image.LastError(), "Error saving PNG file");

  // A real full disk, for a picture large and small.
  EXPECT_FALSE(image.SaveFile("/dev/full", 3));
  EXPECT_STREQ(image.LastError(), "Error saving PNG file");
  CxImage tiny(0);
  ASSERT_NE(tiny.Create(1, 1, 8, 0), nullptr);
  EXPECT_FALSE(tiny.SaveFile("/dev/full", 3));
  EXPECT_STREQ(tiny.LastError(), "Error saving PNG file");

  // Nothing is left in a broken state: the same image saves fine afterwards.
  CxMemFile good;
  EXPECT_TRUE(image.Encode(&good, 3)) << image.LastError();
}

}  // namespace
}  // namespace framory
