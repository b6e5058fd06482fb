// BMP encoder: the file is a 14-byte header plus the image's block, and it
// decodes (netpbm's bmptopnm) to exactly the pixels that went in.
#include "imaging/CxImageBMP.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "imaging/CxMemFile.h"
#include "support/ImageDecode.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using namespace framory::testing;

TEST(CxImageBMPTest, TwentyFourBitFileHasOffset54AndBlockSize) {
  TempDir dir;
  CxImage image(0);
  ASSERT_NE(image.Create(641, 3, 32, 0), nullptr);
  FillTestPicture(&image);
  const std::string path = dir.File("pic0.bmp");
  ASSERT_TRUE(image.SaveFile(path.c_str(), 1)) << image.LastError();
  const std::string bytes = ReadWholeFile(path);
  ASSERT_EQ(bytes.size(), 54u + 1924 * 3);
  EXPECT_EQ(bytes.substr(0, 2), "BM");
  EXPECT_EQ(Le32(bytes, 2), bytes.size()) << "file size field";
  EXPECT_EQ(Le32(bytes, 6), 0u) << "reserved fields";
  EXPECT_EQ(Le32(bytes, 10), 54u) << "pixel offset";
  EXPECT_EQ(Le32(bytes, 14), 40u);
  EXPECT_EQ(Le32(bytes, 28) & 0xFFFF, 24u) << "bits per pixel";
  EXPECT_EQ(Le32(bytes, 46), 0u) << "colours used";
  EXPECT_EQ(Le32(bytes, 38), 3780u) << "pixels per metre";
  // The rest is the block exactly as held in memory.
  EXPECT_EQ(std::memcmp(bytes.data() + 14, image.Block(), image.BlockSize()), 0);
}

TEST(CxImageBMPTest, PaletteFilesPutThePixelsAfterThePalette) {
  for (std::uint32_t bpp : {1u, 4u, 8u}) {
    CxImage image(0);
    ASSERT_NE(image.Create(10, 2, bpp, 0), nullptr);
    FillTestPicture(&image);
    CxMemFile file;
    ASSERT_TRUE(image.Encode(&file, 1));
    const std::string bytes(reinterpret_cast<const char*>(file.Buffer()), file.Size());
    const std::uint32_t colors = 1u << bpp;
    EXPECT_EQ(Le32(bytes, 10), 54u + 4 * colors) << bpp << " bits";
    EXPECT_EQ(Le32(bytes, 46), colors) << bpp << " bits";
    EXPECT_EQ(bytes.size(), 14 + image.BlockSize()) << bpp << " bits";
  }
}

TEST(CxImageBMPTest, DecodesToThePixelsThatWentIn) {
  if (!HaveTool("bmptopnm")) GTEST_SKIP() << "netpbm's bmptopnm is not installed";
  ExpectToolDecodesEveryDepthAndSize(
      "bmptopnm", 1, ".bmp",
      [](const PictureSize& size, std::uint32_t bpp) { return size.Width + bpp; });
}

TEST(CxImageBMPTest, AFullDiskIsReportedNotPassedOffAsSuccess) {
  CxImage image(0);
  ASSERT_NE(image.Create(100, 100, 24, 0), nullptr);
  for (std::size_t limit : {0u, 14u, 5000u}) {
    FailingFile file(limit);
    EXPECT_FALSE(image.Encode(&file, 1)) << "limit " << limit;
    EXPECT_STREQ(image.LastError(), "BMP write error --- out of disk space?");
  }
  FailingFile flushFails(1u << 20, true);
  EXPECT_FALSE(image.Encode(&flushFails, 1));

  // The real thing: every write to /dev/full fails with ENOSPC.
  CxImage small(0);
  ASSERT_NE(small.Create(3, 3, 24, 0), nullptr);
  EXPECT_FALSE(small.SaveFile("/dev/full", 1));
  EXPECT_STREQ(small.LastError(), "BMP write error --- out of disk space?");
}

}  // namespace
}  // namespace framory
