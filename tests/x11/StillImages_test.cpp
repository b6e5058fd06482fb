// Still images end to end on a 24-bit Xvfb screen: TakeShot over the X11
// window system and screen grabber hands each frame to the still-image
// writer, which names it and encodes it. The files are read back with
// independent decoders (libpng, libjpeg, netpbm) and compared with the pixels
// the test put on the screen.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>

#include "support/ImageDecode.h"
#include "support/SmallTmpfs.h"
#include "support/StillImageRig.h"

namespace framory {
namespace {

using namespace framory::testing;

std::uint32_t RgbAt(const RgbImage& image, int x, int y) {
  const std::uint8_t* p = image.At(x, y);
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

using StillImagesTest = StillImageRig;

TEST_F(StillImagesTest, EachFormatHoldsTheScreenPixelsUnderRunningNames) {
  // A patterned window (odd width: PCX pads, BMP rows pad) and four solid
  // blocks aligned to JPEG's 16-pixel blocks.
  Window pattern = windows.CreatePattern(100, 100, 131, 70, true);
  ASSERT_TRUE(windows.MapAndWait(pattern));
  const std::uint32_t colours[4] = {0xC81E1E, 0x1EB43C, 0x2846DC, 0xF0DC50};
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t c = colours[i];
    Window block = windows.CreateSolid(400 + 64 * (i % 2), 400 + 64 * (i / 2), 64, 64,
                                       windows.Pixel(c >> 16, (c >> 8) & 0xFF, c & 0xFF), true);
    ASSERT_TRUE(windows.MapAndWait(block));
  }
  ASSERT_TRUE(windows.WaitForScreenPixel(230, 169, X11TestWindows::PatternPixel(130, 69)));
  ASSERT_TRUE(windows.WaitForScreenPixel(527, 527, windows.Pixel(0xF0, 0xDC, 0x50)));

  const Rect patternArea{100, 100, 230, 169};
  const Rect blockArea{400, 400, 527, 527};
  EXPECT_FALSE(writer.HasLastResult());
  ShootArea(OutputTypes::Bmp, patternArea);
  EXPECT_TRUE(writer.HasLastResult());
  ShootArea(OutputTypes::Jpg, blockArea);
  ShootArea(OutputTypes::Pcx, patternArea);
  ShootArea(OutputTypes::Png, patternArea);
  EXPECT_EQ(naming.LastResult(), Folder() + "/pic3.png");

  // The three lossless files: exactly the pattern, through two decoders each
  // where there are two.
  struct Lossless {
    const char* name;
    const char* tool;
  };
  for (const Lossless& file : {Lossless{"pic0.bmp", "bmptopnm"}, Lossless{"pic2.pcx", "pcxtoppm"},
                               Lossless{"pic3.png", "pngtopnm"}}) {
    SCOPED_TRACE(file.name);
    const std::string path = Folder() + "/" + file.name;
    ASSERT_TRUE(std::filesystem::exists(path));
    std::vector<RgbImage> decodings;
    std::string error;
    if (HaveTool(file.tool)) {
      decodings.emplace_back();
      ASSERT_TRUE(DecodeWithTool(file.tool, path, &decodings.back(), &error)) << error;
    }
    if (std::string(file.name).ends_with(".png")) {
      PngFacts facts;
      decodings.emplace_back();
      ASSERT_TRUE(DecodePng(path, &decodings.back(), &facts, &error)) << error;
      EXPECT_EQ(facts.ColorType, 2) << "a TrueColor screen gives an RGB file";
    }
    ASSERT_FALSE(decodings.empty()) << "no decoder available";
    for (const RgbImage& decoded : decodings) {
      ASSERT_EQ(decoded.Width, 131);
      ASSERT_EQ(decoded.Height, 70);
      int wrong = 0;
      for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 131; ++x)
          wrong += RgbAt(decoded, x, y) != X11TestWindows::PatternPixel(x, y);
      EXPECT_EQ(wrong, 0);
    }
  }

  // The JPEG: the four blocks, close to their colours.
  RgbImage jpeg;
  JpegFacts facts;
  std::string error;
  ASSERT_TRUE(DecodeJpeg(Folder() + "/pic1.jpg", &jpeg, &facts, &error)) << error;
  ASSERT_EQ(jpeg.Width, 128);
  ASSERT_EQ(jpeg.Height, 128);
  EXPECT_EQ(facts.XDensity, 96);
  EXPECT_TRUE(facts.Baseline);
  RgbImage expected{128, 128, {}};
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      const std::uint32_t c = colours[(x / 64) + 2 * (y / 64)];
      expected.Rgb.insert(expected.Rgb.end(),
                          {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                           static_cast<std::uint8_t>(c)});
    }
  }
  EXPECT_LT(MeanChannelDifference(jpeg, expected), 3.0);
  for (int i = 0; i < 4; ++i) {
    const int x = 32 + 64 * (i % 2), y = 32 + 64 * (i / 2);
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(jpeg.At(x, y)[c], expected.At(x, y)[c], 6) << "block " << i << " channel " << c;
    }
  }
}

TEST_F(StillImagesTest, ExistingPicturesAreNeverOverwritten) {
  ASSERT_TRUE(WriteWholeFile(Folder() + "/pic0.png", "keep me"));
  ASSERT_TRUE(WriteWholeFile(Folder() + "/pic1.png", "keep me too"));
  Window block = windows.CreateSolid(10, 10, 20, 20, windows.Pixel(10, 20, 30), true);
  ASSERT_TRUE(windows.MapAndWait(block));
  ASSERT_TRUE(windows.WaitForScreenPixel(29, 29, windows.Pixel(10, 20, 30)));
  ShootArea(OutputTypes::Png, Rect{10, 10, 29, 29});
  EXPECT_EQ(ReadWholeFile(Folder() + "/pic0.png"), "keep me");
  EXPECT_EQ(ReadWholeFile(Folder() + "/pic1.png"), "keep me too");
  RgbImage decoded;
  PngFacts facts;
  std::string error;
  ASSERT_TRUE(DecodePng(Folder() + "/pic2.png", &decoded, &facts, &error)) << error;
  ASSERT_EQ(decoded.Width, 20);
  EXPECT_EQ(RgbAt(decoded, 19, 19), 0x0A141Eu);
  EXPECT_EQ(naming.PictureCounter(), 3);
}

// A project folder removed while recording is noticed at the next picture.
TEST_F(StillImagesTest, AMissingProjectFolderIsReportedAndPauses) {
  settings.SetProjectName("Gone");
  ShootArea(OutputTypes::Bmp, Rect{0, 0, 9, 9});
  EXPECT_TRUE(writer.HasLastResult()) << "the name is made; the file just cannot be created";
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/Gone"));
  ASSERT_EQ(host.reports.size(), 1u);
  EXPECT_EQ(host.reports[0], "Unable to save picture " + dir.Path() + "/Gone/pic0.bmp");
  EXPECT_EQ(host.codes[0], std::uint32_t{ENOENT});
  EXPECT_TRUE(host.paused);
}

// A full disk while pictures of every type are taken: each failed picture is
// removed again and reported with the system's error number (ENOSPC, shown
// as 1C); the pictures taken before stay byte for byte; once room is made,
// pictures are written again.
TEST_F(StillImagesTest, FullDiskLeavesNoPartialPictureAndEarlierOnesUntouched) {
  const SmallTmpfs small(dir.File("small"), "2m");
  if (!small.Mounted()) GTEST_SKIP() << "no permission to mount a small tmpfs";
  const std::string& mountPoint = small.Path();
  settings.SetProjectDirectory(mountPoint + "/");
  const std::string folder = settings.ProjectFolder();
  std::filesystem::create_directory(folder);
  Window block = windows.CreateSolid(10, 10, 60, 40, windows.Pixel(200, 120, 40), true);
  ASSERT_TRUE(windows.MapAndWait(block));
  ASSERT_TRUE(windows.WaitForScreenPixel(69, 49, windows.Pixel(200, 120, 40)));
  const Rect area{0, 0, 99, 79};
  const std::int32_t types[] = {OutputTypes::Bmp, OutputTypes::Jpg, OutputTypes::Pcx,
                                OutputTypes::Png};
  auto shootAll = [&] {
    for (std::int32_t type : types) ShootArea(type, area);
  };
  shootAll();
  ASSERT_TRUE(host.reports.empty());
  std::map<std::string, std::string> earlier;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    earlier[e.path().string()] = ReadWholeFile(e.path().string());
  }
  ASSERT_EQ(earlier.size(), 4u);

  // Fill the disk to the last byte.
  {
    std::FILE* filler = std::fopen((mountPoint + "/filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    const std::string chunk(4096, 'f');
    while (std::fwrite(chunk.data(), 1, chunk.size(), filler) == chunk.size()) {
    }
    std::fclose(filler);
  }
  for (std::int32_t type : types) {
    host.paused = false;  // the user resumes after each box
    ShootArea(type, area);
  }
  ASSERT_EQ(host.reports.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    const std::string path = folder + "/pic" + std::to_string(4 + i) +
                             (i == 0   ? ".bmp"
                              : i == 1 ? ".jpg"
                              : i == 2 ? ".pcx"
                                       : ".png");
    EXPECT_EQ(host.reports[i], "Unable to save picture " + path);
    EXPECT_EQ(host.codes[i], std::uint32_t{ENOSPC});
    EXPECT_FALSE(std::filesystem::exists(path)) << "no partial picture";
  }
  EXPECT_TRUE(host.paused);
  std::size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    ++files;
    EXPECT_EQ(ReadWholeFile(e.path().string()), earlier[e.path().string()]) << e.path();
  }
  EXPECT_EQ(files, 4u);

  // Room is made; recording goes on with the next numbers.
  std::filesystem::remove(mountPoint + "/filler");
  host.paused = false;
  shootAll();
  EXPECT_EQ(host.reports.size(), 4u);
  RgbImage decoded;
  PngFacts facts;
  std::string error;
  ASSERT_TRUE(DecodePng(folder + "/pic11.png", &decoded, &facts, &error)) << error;
  EXPECT_EQ(RgbAt(decoded, 50, 30), 0xC87828u);
  for (const char* name : {"pic8.bmp", "pic9.jpg", "pic10.pcx"}) {
    EXPECT_GT(std::filesystem::file_size(folder + "/" + name), 0u) << name;
  }
}

}  // namespace
}  // namespace framory
