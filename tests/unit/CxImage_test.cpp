// The image record and its files: block layout, depth normalisation, the
// resolution fields, views, filling from grabbed frames, the memory and stream
// files, format dispatch and SaveFile's failure paths.
#include "imaging/CxImage.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/CxIOFile.h"
#include "imaging/CxImageBMP.h"
#include "imaging/CxMemFile.h"
#include "support/ImageDecode.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;

TEST(CxImageRecord, ANewRecordIsEmptyWithDefaultSettings) {
  CxImage image(0);
  EXPECT_FALSE(image.IsValid());
  EXPECT_EQ(image.Type(), 0);
  EXPECT_EQ(image.JpegQuality(), 75);
  EXPECT_EQ(image.BackgroundIndex(), -1);
  EXPECT_EQ(image.XDpi(), 96);
  EXPECT_EQ(image.YDpi(), 96);
  EXPECT_EQ(image.Header().XPelsPerMeter, 3780);
  EXPECT_EQ(image.Header().YPelsPerMeter, 3780);
  EXPECT_STREQ(image.LastError(), "");
  EXPECT_EQ(CxImage(3).Type(), 3);
}

TEST(CxImageRecord, SettingAResolutionSetsPixelsPerMetre) {
  CxImage image(0);
  image.SetXDpi(300);
  image.SetYDpi(72);
  EXPECT_EQ(image.Header().XPelsPerMeter, 11811);  // 300 / 0.0254 = 11811.02
  EXPECT_EQ(image.Header().YPelsPerMeter, 2835);   // 72 / 0.0254 = 2834.6
}

TEST(CxImageRecord, CreateNormalisesDepthAndLaysOutTheBlock) {
  struct Case {
    std::uint32_t askedBits, width, storedBits, colors, stride;
  };
  const Case cases[] = {
      {1, 1, 1, 2, 4},    {1, 33, 1, 2, 8},       {2, 9, 4, 16, 8},  {4, 7, 4, 16, 4},
      {4, 9, 4, 16, 8},   {8, 5, 8, 256, 8},      {8, 8, 8, 256, 8}, {15, 3, 24, 0, 12},
      {16, 5, 24, 0, 16}, {24, 641, 24, 0, 1924}, {32, 1, 24, 0, 4}, {32, 4, 24, 0, 12},
  };
  for (const Case& c : cases) {
    CxImage image(0);
    ASSERT_NE(image.Create(c.width, 3, c.askedBits, 0), nullptr) << image.LastError();
    SCOPED_TRACE(std::to_string(c.askedBits) + " bits, width " + std::to_string(c.width));
    EXPECT_EQ(image.BitsPerPixel(), c.storedBits);
    EXPECT_EQ(image.ColorCount(), c.colors);
    EXPECT_EQ(image.EffectiveWidth(), c.stride);
    EXPECT_EQ(image.BlockSize(), 40u + 4 * c.colors + c.stride * 3);

    // The block starts with the header as a BMP's info header.
    CxBitmapInfoHeader head;
    std::memcpy(&head, image.Block(), sizeof head);
    EXPECT_EQ(head.Size, 40u);
    EXPECT_EQ(head.Width, static_cast<std::int32_t>(c.width));
    EXPECT_EQ(head.Height, 3);
    EXPECT_EQ(head.Planes, 1);
    EXPECT_EQ(head.BitCount, c.storedBits);
    EXPECT_EQ(head.Compression, 0u);
    EXPECT_EQ(head.SizeImage, c.stride * 3);
    EXPECT_EQ(head.XPelsPerMeter, 3780);
    EXPECT_EQ(head.ClrUsed, c.colors);
    EXPECT_EQ(head.ClrImportant, 0u);
    // Rows bottom-up right after the palette.
    EXPECT_EQ(image.BottomUpRow(0), image.Block() + 40 + 4 * c.colors);
    EXPECT_EQ(image.TopDownRow(0), image.BottomUpRow(2));
  }
}

TEST(CxImageRecord, CreateRefusesSizesItCannotHold) {
  CxImage image(0);
  EXPECT_EQ(image.Create(0, 10, 24, 0), nullptr);
  EXPECT_FALSE(image.IsValid());
  EXPECT_EQ(image.Create(70000, 70000, 24, 0), nullptr);
  EXPECT_STREQ(image.LastError(), "CXIMAGE_MAX_MEMORY exceeded");
  EXPECT_FALSE(image.IsValid());
  // A later save reports the missing block.
  CxMemFile file;
  EXPECT_FALSE(image.Encode(&file, 1));
  EXPECT_STREQ(image.LastError(), "null image!!!");
  EXPECT_EQ(file.Size(), 0);
}

TEST(CxImageRecord, AViewSharesTheBlockAndNeverFreesIt) {
  CxImage image(0);
  ASSERT_NE(image.Create(4, 4, 8, 0), nullptr);
  image.SetJpegQuality(50);
  {
    CxImageBMP view;
    view.MakeViewOf(image);
    EXPECT_TRUE(view.IsView());
    EXPECT_EQ(view.Block(), image.Block());
    EXPECT_EQ(view.JpegQuality(), 50);
    EXPECT_EQ(view.ColorCount(), 256u);
  }
  // Still usable after the view went away (ASan would flag a double free).
  image.TopDownRow(3)[3] = 7;
  EXPECT_EQ(image.BottomUpRow(0)[3], 7);
}

// --- Filling from grabbed frames -------------------------------------------

Frame MakeFrame(std::vector<std::uint8_t>* storage, int width, int height, int bpp, int stride) {
  storage->assign(static_cast<std::size_t>(stride) * height, 0);
  Frame frame;
  frame.Width = width;
  frame.Height = height;
  frame.BitsPerPixel = bpp;
  frame.BytesPerLine = stride;
  frame.Pixels = storage->data();
  return frame;
}

TEST(CxImageFromFrame, ThirtyTwoBitFramesBecomeBottomUpBgr) {
  std::vector<std::uint8_t> pixels;
  Frame frame = MakeFrame(&pixels, 3, 2, 32, 16);  // stride wider than the pixels
  auto put = [&](int x, int y, std::uint32_t v) { std::memcpy(&pixels[y * 16 + x * 4], &v, 4); };
  put(0, 0, 0xFF112233);
  put(1, 0, 0x00445566);
  put(2, 0, 0x00FFFFFF);
  put(0, 1, 0x00010203);
  CxImage image(0);
  ASSERT_TRUE(image.CreateFromBitmap(&frame, nullptr)) << image.LastError();
  EXPECT_EQ(image.BitsPerPixel(), 24u);
  EXPECT_EQ(image.EffectiveWidth(), 12u);
  const std::uint8_t* top = image.BottomUpRow(1);
  EXPECT_EQ(std::vector<std::uint8_t>(top, top + 9),
            (std::vector<std::uint8_t>{0x33, 0x22, 0x11, 0x66, 0x55, 0x44, 0xFF, 0xFF, 0xFF}));
  const std::uint8_t* bottom = image.BottomUpRow(0);
  EXPECT_EQ(std::vector<std::uint8_t>(bottom, bottom + 3), (std::vector<std::uint8_t>{3, 2, 1}));
}

TEST(CxImageFromFrame, SixteenBitFramesUseTheirMasksAndKeepFullIntensity) {
  std::vector<std::uint8_t> pixels;
  Frame frame = MakeFrame(&pixels, 3, 1, 16, 6);
  frame.RedMask = 0xF800;
  frame.GreenMask = 0x07E0;
  frame.BlueMask = 0x001F;
  const std::uint16_t values[3] = {0xFFFF, 0xF800, 0x0400};  // white, red, mid green
  std::memcpy(pixels.data(), values, 6);
  CxImage image(0);
  ASSERT_TRUE(image.CreateFromBitmap(&frame, nullptr));
  const std::uint8_t* row = image.TopDownRow(0);
  EXPECT_EQ(std::vector<std::uint8_t>(row, row + 9),
            (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 255, 0, 0x82, 0}));

  // A 555 frame: 15 significant bits in two bytes.
  frame.BitsPerPixel = 15;
  frame.RedMask = 0x7C00;
  frame.GreenMask = 0x03E0;
  frame.BlueMask = 0x001F;
  const std::uint16_t v555[3] = {0x7FFF, 0x001F, 0x0000};
  std::memcpy(pixels.data(), v555, 6);
  ASSERT_TRUE(image.CreateFromBitmap(&frame, nullptr));
  EXPECT_EQ(image.BitsPerPixel(), 24u);
  row = image.TopDownRow(0);
  EXPECT_EQ(std::vector<std::uint8_t>(row, row + 9),
            (std::vector<std::uint8_t>{255, 255, 255, 255, 0, 0, 0, 0, 0}));
}

TEST(CxImageFromFrame, TwentyFourBitFramesFollowTheMaskOrder) {
  std::vector<std::uint8_t> pixels;
  Frame frame = MakeFrame(&pixels, 1, 1, 24, 4);
  pixels[0] = 1;
  pixels[1] = 2;
  pixels[2] = 3;
  CxImage image(0);
  ASSERT_TRUE(image.CreateFromBitmap(&frame, nullptr));
  EXPECT_EQ(image.TopDownRow(0)[0], 1);  // blue is the low byte
  EXPECT_EQ(image.TopDownRow(0)[2], 3);
  frame.RedMask = 0x0000FF;  // red first in memory
  frame.BlueMask = 0xFF0000;
  ASSERT_TRUE(image.CreateFromBitmap(&frame, nullptr));
  EXPECT_EQ(image.TopDownRow(0)[0], 3);
  EXPECT_EQ(image.TopDownRow(0)[2], 1);
}

TEST(CxImageFromFrame, EightBitFramesKeepIndicesAndCopyThePalette) {
  std::vector<std::uint8_t> pixels;
  Frame frame = MakeFrame(&pixels, 5, 2, 8, 5);
  for (int i = 0; i < 10; ++i) pixels[i] = static_cast<std::uint8_t>(i * 25);
  Palette palette;
  for (int i = 0; i < 256; ++i) {
    palette.Entries[i] =
        PaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                     static_cast<std::uint8_t>(i / 2), 0};
  }
  CxImage image(0);
  ASSERT_TRUE(image.CreateFromBitmap(&frame, &palette));
  EXPECT_EQ(image.BitsPerPixel(), 8u);
  EXPECT_EQ(image.ColorCount(), 256u);
  EXPECT_EQ(image.EffectiveWidth(), 8u);
  EXPECT_EQ(image.TopDownRow(1)[4], 225);
  const CxRgbQuad& entry = image.PaletteEntries()[200];
  EXPECT_EQ(entry.Red, 200);
  EXPECT_EQ(entry.Green, 55);
  EXPECT_EQ(entry.Blue, 100);
  EXPECT_EQ(entry.Reserved, 0);

  // The palette may also travel with the frame.
  frame.Colors = &palette;
  CxImage fromFrame(0);
  ASSERT_TRUE(fromFrame.CreateFromBitmap(&frame, nullptr));
  EXPECT_EQ(fromFrame.PaletteEntries()[200].Green, 55);

  // Without any palette, index i shows as grey i.
  frame.Colors = nullptr;
  ASSERT_TRUE(fromFrame.CreateFromBitmap(&frame, nullptr));
  EXPECT_EQ(fromFrame.PaletteEntries()[200].Green, 200);
  EXPECT_EQ(fromFrame.PaletteEntries()[200].Red, 200);
}

TEST(CxImageFromFrame, NullFramesAndUnusableFrames) {
  CxImage image(0);
  ASSERT_NE(image.Create(2, 2, 24, 0), nullptr);
  EXPECT_FALSE(image.CreateFromBitmap(nullptr, nullptr));
  EXPECT_FALSE(image.IsValid()) << "a null frame leaves the record empty";

  // A frame that promises pixels it does not have: the block stays, zeroed.
  std::vector<std::uint8_t> pixels;
  Frame frame = MakeFrame(&pixels, 4, 2, 32, 8);  // 8 bytes a line for 16 needed
  EXPECT_FALSE(image.CreateFromBitmap(&frame, nullptr));
  EXPECT_STREQ(image.LastError(), "GetDIBits failed");
  ASSERT_TRUE(image.IsValid());
  EXPECT_EQ(image.TopDownRow(0)[0], 0);

  frame.Pixels = nullptr;
  frame.BytesPerLine = 16;
  EXPECT_FALSE(image.CreateFromBitmap(&frame, nullptr));
  EXPECT_STREQ(image.LastError(), "GetDIBits failed");

  // 12 bits a pixel are read as two bytes each: a line of 15 bytes holds the
  // bits of 10 pixels but not the 20 bytes read, and is refused rather than
  // read past its end (the sanitizer build catches the overrun).
  Frame packed = MakeFrame(&pixels, 10, 3, 12, 15);
  pixels.shrink_to_fit();
  EXPECT_FALSE(image.CreateFromBitmap(&packed, nullptr));
  EXPECT_STREQ(image.LastError(), "GetDIBits failed");
  packed = MakeFrame(&pixels, 10, 3, 12, 20);
  EXPECT_TRUE(image.CreateFromBitmap(&packed, nullptr)) << image.LastError();
}

// --- Files ---------------------------------------------------------------------

TEST(CxMemFileTest, GrowsInWholeStepsAndReadsBack) {
  CxMemFile file;
  EXPECT_EQ(file.Size(), 0);
  EXPECT_EQ(file.Capacity(), 0u);
  std::vector<std::uint8_t> data(5000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(file.Write(data.data(), 1, 100), 100u);
  EXPECT_EQ(file.Capacity(), 4096u);
  EXPECT_EQ(file.Write(data.data() + 100, 100, 49), 49u);
  EXPECT_EQ(file.Capacity(), 8192u);
  EXPECT_TRUE(file.PutByte(0xAB));
  EXPECT_EQ(file.Size(), 5001);
  EXPECT_EQ(std::memcmp(file.Buffer(), data.data(), 5000), 0);
  EXPECT_EQ(file.Buffer()[5000], 0xAB);

  ASSERT_TRUE(file.Seek(10, SEEK_SET));
  EXPECT_EQ(file.GetByte(), data[10]);
  std::uint8_t back[4];
  EXPECT_EQ(file.Read(back, 2, 2), 2u);
  EXPECT_EQ(back[3], data[14]);
  // Writing inside keeps the size; a seek past the end reads back zeros.
  ASSERT_TRUE(file.Seek(0, SEEK_END));
  ASSERT_TRUE(file.Seek(3, SEEK_CUR));
  EXPECT_TRUE(file.PutByte(1));
  EXPECT_EQ(file.Size(), 5005);
  EXPECT_EQ(file.Buffer()[5002], 0);
  EXPECT_TRUE(file.Flush());
  EXPECT_FALSE(file.HasError());
}

TEST(CxIOFileTest, WrapsAStreamWithoutClosingIt) {
  TempDir dir;
  const std::string path = dir.File("out.bin");
  std::FILE* stream = std::fopen(path.c_str(), "wb+");
  ASSERT_NE(stream, nullptr);
  {
    CxIOFile file(stream);
    EXPECT_EQ(file.Write("abcdef", 2, 3), 3u);
    EXPECT_TRUE(file.PutByte('g'));
    EXPECT_TRUE(file.Flush());
    EXPECT_FALSE(file.HasError());
    EXPECT_EQ(file.Size(), 7);
    EXPECT_FALSE(file.Close()) << "the stream belongs to whoever opened it";
  }
  EXPECT_EQ(std::fputc('h', stream), 'h') << "the stream must still be open";
  std::fclose(stream);
  EXPECT_EQ(ReadWholeFile(path), "abcdefgh");

  CxIOFile full;
  ASSERT_TRUE(full.Open("/dev/full", "wb"));
  std::vector<char> block(65536, 'x');
  EXPECT_LT(full.Write(block.data(), 1, block.size()), block.size());
  EXPECT_TRUE(full.HasError());
}

// --- Dispatch and SaveFile -----------------------------------------------------

TEST(CxImageSave, UnknownFormatsLeaveNoFile) {
  TempDir dir;
  CxImage image(0);
  ASSERT_NE(image.Create(8, 8, 24, 0), nullptr);
  for (int format : {0, 4, 6, 7, -1}) {
    const std::string path = dir.File("pic" + std::to_string(format) + ".bin");
    EXPECT_FALSE(image.SaveFile(path.c_str(), format)) << "format " << format;
    EXPECT_STREQ(image.LastError(), "Encode: Unknown format") << "format " << format;
    EXPECT_FALSE(std::filesystem::exists(path)) << "the file made first is removed again";
  }
}

// A full disk (/dev/full) and a file-size limit stop every encoder: the save
// fails with the system's error number, a partial file is removed, and a
// device is never removed.
TEST(CxImageSave, WriteFailuresNameTheSystemErrorAndLeaveNoPartialFile) {
  TempDir dir;
  CxImage image(0);
  ASSERT_NE(image.Create(64, 64, 24, 0), nullptr);
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  for (int format : {1, 2, 3, 5}) {
    SCOPED_TRACE(format);
    EXPECT_FALSE(image.SaveFile("/dev/full", format));
    EXPECT_EQ(image.SaveErrorNumber(), ENOSPC);
    struct stat st;
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    const std::string path = dir.File("limited" + std::to_string(format));
    struct rlimit limit = saved;
    limit.rlim_cur = 50;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool saved_ok = image.SaveFile(path.c_str(), format);
    const int error = image.SaveErrorNumber();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(error, EFBIG);
    EXPECT_FALSE(std::filesystem::exists(path)) << "the cut-off picture is removed";
  }
  sigaction(SIGXFSZ, &previous, nullptr);
}

TEST(CxImageSave, FilesThatCannotBeOpenedAreNotCreatedAndRecordNothing) {
  TempDir dir;
  CxImage image(0);
  ASSERT_NE(image.Create(8, 8, 24, 0), nullptr);
  const std::string path = dir.File("missing-folder/pic0.bmp");
  EXPECT_FALSE(image.SaveFile(path.c_str(), 1));
  EXPECT_STREQ(image.LastError(), "");
  EXPECT_EQ(image.SaveErrorNumber(), ENOENT);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(CxImageSave, EveryEncoderChecksItsInputsBeforeWriting) {
  TempDir dir;
  for (int format : {1, 2, 3, 5}) {
    CxImage empty(0);
    const std::string path = dir.File("empty" + std::to_string(format));
    EXPECT_FALSE(empty.SaveFile(path.c_str(), format));
    EXPECT_STREQ(empty.LastError(), "null image!!!") << "format " << format;
    EXPECT_FALSE(std::filesystem::exists(path)) << "format " << format;

    CxImage image(0);
    ASSERT_NE(image.Create(2, 2, 24, 0), nullptr);
    EXPECT_FALSE(image.Encode(nullptr, format));
    EXPECT_STREQ(image.LastError(), "null file handler") << "format " << format;
  }
}

TEST(CxImageSave, SaveFileTruncatesAnExistingFile) {
  TempDir dir;
  const std::string path = dir.File("pic.bmp");
  ASSERT_TRUE(testing::WriteWholeFile(path, std::string(100000, 'z')));
  CxImage image(0);
  ASSERT_NE(image.Create(2, 2, 24, 0), nullptr);
  ASSERT_TRUE(image.SaveFile(path.c_str(), 1)) << image.LastError();
  EXPECT_EQ(std::filesystem::file_size(path), 14u + 40 + 8 * 2);
}

}  // namespace
}  // namespace framory
