// JPEG encoder: baseline JFIF at quality 75 and 96 dpi, close to the input
// when decoded by libjpeg and by netpbm, greyscale palettes only, and libjpeg's
// own texts for write failures.
#include "imaging/CxImageJPG.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "imaging/CxMemFile.h"
#include "support/ImageDecode.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using namespace framory::testing;

void MakeGreyRamp(CxImage* image) {
  for (std::uint32_t i = 0; i < image->ColorCount(); ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    image->PaletteEntries()[i] = CxRgbQuad{v, v, v, 0};
  }
}

TEST(CxImageJPGTest, WritesBaselineJfifWithDensity96) {
  TempDir dir;
  CxImage image(0);
  ASSERT_NE(image.Create(64, 48, 24, 0), nullptr);
  FillSmoothPicture(&image);
  const std::string path = dir.File("pic0.jpg");
  ASSERT_TRUE(image.SaveFile(path.c_str(), 2)) << image.LastError();
  RgbImage decoded;
  JpegFacts facts;
  std::string error;
  ASSERT_TRUE(DecodeJpeg(path, &decoded, &facts, &error)) << error;
  EXPECT_TRUE(facts.SawJfif);
  EXPECT_EQ(facts.DensityUnit, 1) << "dots per inch";
  EXPECT_EQ(facts.XDensity, 96);
  EXPECT_EQ(facts.YDensity, 96);
  EXPECT_TRUE(facts.Baseline) << "the frame marker must be SOF0";
  EXPECT_FALSE(facts.Progressive);
  EXPECT_FALSE(facts.Arithmetic);
  EXPECT_EQ(facts.Components, 3);

  // Quality 75 scales the standard tables by one half: the luminance DC
  // quantiser 16 becomes 8.
  const std::string bytes = ReadWholeFile(path);
  const std::size_t dqt = bytes.find("\xFF\xDB");
  ASSERT_NE(dqt, std::string::npos);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[dqt + 5]), 8) << "luminance DC quantiser at quality 75";
}

TEST(CxImageJPGTest, DecodesCloseToThePixelsThatWentIn) {
  TempDir dir;
  for (const PictureSize& size : kRoundTripSizes) {
    SCOPED_TRACE(std::to_string(size.Width) + "x" + std::to_string(size.Height));
    CxImage image(0);
    ASSERT_NE(image.Create(size.Width, size.Height, 24, 0), nullptr);
    FillSmoothPicture(&image);
    const std::string path = dir.File("pic.jpg");
    ASSERT_TRUE(image.SaveFile(path.c_str(), 2)) << image.LastError();
    RgbImage decoded;
    JpegFacts facts;
    std::string error;
    ASSERT_TRUE(DecodeJpeg(path, &decoded, &facts, &error)) << error;
    const RgbImage expected = ExpectedPixels(image);
    EXPECT_LT(MeanChannelDifference(decoded, expected), 4.0) << "red and blue must not be swapped";
    EXPECT_LT(MaxChannelDifference(decoded, expected), 48);
  }
}

TEST(CxImageJPGTest, ChannelsAreNotSwapped) {
  TempDir dir;
  CxImage image(0);
  ASSERT_NE(image.Create(16, 16, 24, 0), nullptr);
  for (std::uint32_t y = 0; y < 16; ++y) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      std::uint8_t* p = image.TopDownRow(y) + 3 * x;
      p[0] = 10;   // blue
      p[1] = 100;  // green
      p[2] = 240;  // red
    }
  }
  const std::string path = dir.File("orange.jpg");
  ASSERT_TRUE(image.SaveFile(path.c_str(), 2));
  RgbImage decoded;
  std::string error;
  if (HaveTool("jpegtopnm")) {
    ASSERT_TRUE(DecodeWithTool("jpegtopnm", path, &decoded, &error)) << error;
  } else {
    JpegFacts facts;
    ASSERT_TRUE(DecodeJpeg(path, &decoded, &facts, &error)) << error;
  }
  EXPECT_NEAR(decoded.At(8, 8)[0], 240, 4);
  EXPECT_NEAR(decoded.At(8, 8)[1], 100, 4);
  EXPECT_NEAR(decoded.At(8, 8)[2], 10, 4);
}

TEST(CxImageJPGTest, GreyRampPalettesAreSavedAsGreyscale) {
  TempDir dir;
  for (std::uint32_t bpp : {8u, 4u, 1u}) {
    for (const PictureSize& size : {PictureSize{1, 1}, PictureSize{37, 5}, PictureSize{64, 8}}) {
      SCOPED_TRACE(std::to_string(bpp) + " bits, width " + std::to_string(size.Width));
      CxImage image(0);
      ASSERT_NE(image.Create(size.Width, size.Height, bpp, 0), nullptr);
      MakeGreyRamp(&image);
      // A flat picture of the brightest index, so the expected grey is exact.
      const std::uint8_t fill = bpp == 8 ? 0xC8 : bpp == 4 ? 0xFF : 0xFF;
      for (std::uint32_t y = 0; y < size.Height; ++y) {
        std::memset(image.TopDownRow(y), fill, image.EffectiveWidth());
      }
      const std::string path = dir.File("grey.jpg");
      ASSERT_TRUE(image.SaveFile(path.c_str(), 2)) << image.LastError();
      RgbImage decoded;
      JpegFacts facts;
      std::string error;
      ASSERT_TRUE(DecodeJpeg(path, &decoded, &facts, &error)) << error;
      EXPECT_EQ(facts.Components, 1);
      EXPECT_EQ(MaxChannelDifference(decoded, ExpectedPixels(image)), 0)
          << "a flat grey survives exactly";
    }
  }
}

TEST(CxImageJPGTest, ColourPalettesAreRefusedAndLeaveNoFile) {
  TempDir dir;
  CxImage image(0);
  ASSERT_NE(image.Create(8, 8, 8, 0), nullptr);
  MakeGreyRamp(&image);
  image.PaletteEntries()[255].Red = 254;  // one entry off the ramp
  const std::string path = dir.File("pic0.jpg");
  EXPECT_FALSE(image.SaveFile(path.c_str(), 2));
  EXPECT_STREQ(image.LastError(), "JPEG can save only RGB or GreyScale images");
  EXPECT_EQ(image.SaveErrorNumber(), EINVAL) << "refused, not a system failure";
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(CxImageJPGTest, WriteFailuresGiveLibjpegsTextAndNoCrash) {
  CxImage image(0);
  ASSERT_NE(image.Create(300, 200, 24, 0), nullptr);
  FillTestPicture(&image);  // noise: well over 4096 bytes compressed
  const char* kWriteError = "Output file write error --- out of disk space?";
  for (std::size_t limit : {0u, 4095u, 4096u, 10000u}) {
    FailingFile file(limit);
    EXPECT_FALSE(image.Encode(&file, 2)) << "limit " << limit;
    EXPECT_STREQ(image.LastError(), kWriteError) << "limit " << limit;
  }
  CxMemFile whole;
  ASSERT_TRUE(image.Encode(&whole, 2));
  FailingFile lastBlockShort(static_cast<std::size_t>(whole.Size()) - 1);
  EXPECT_FALSE(image.Encode(&lastBlockShort, 2)) << "the final partial buffer is checked";
  EXPECT_STREQ(image.LastError(), kWriteError);
  FailingFile flushFails(1u << 24, true);
  EXPECT_TRUE(image.Encode(&flushFails, 2)) << "only the stream's error state is a failure";

  // A real full disk.
  EXPECT_FALSE(image.SaveFile("/dev/full", 2));
  EXPECT_STREQ(image.LastError(), kWriteError);
  CxImage tiny(0);
  ASSERT_NE(tiny.Create(1, 1, 24, 0), nullptr);
  EXPECT_FALSE(tiny.SaveFile("/dev/full", 2)) << "the flush at the end finds the error";
  EXPECT_STREQ(tiny.LastError(), kWriteError);

  // The image is still good afterwards.
  CxMemFile again;
  EXPECT_TRUE(image.Encode(&again, 2));
  EXPECT_EQ(again.Size(), whole.Size());
}

}  // namespace
}  // namespace framory
