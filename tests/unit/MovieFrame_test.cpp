// Composition of grabbed frames into the clip's 32-bit frame buffer: copy,
// centring on black, nearest-neighbour stretching, and every source format.
#include "base/MovieFrame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/ClipSessionFakes.h"

namespace framory {
namespace {

using testing::TestPicture;

// A picture whose every pixel tells where it came from.
TestPicture Numbered(std::int32_t width, std::int32_t height) {
  TestPicture p(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) p.At(x, y) = 0x00800000u | (y << 11) | x;
  }
  return p;
}

// A frame of another depth over caller-owned bytes.
Frame RawFrame(std::vector<std::uint8_t>& bytes, std::int32_t width, std::int32_t height,
               std::int32_t bpp, std::int32_t bytesPerLine) {
  bytes.assign(std::size_t(bytesPerLine) * height, 0);
  Frame f;
  f.Width = width;
  f.Height = height;
  f.BitsPerPixel = bpp;
  f.BytesPerLine = bytesPerLine;
  f.Pixels = bytes.data();
  return f;
}

TEST(MovieFrame, CreateMakesABlackBufferOrRefusesTheSize) {
  MovieFrame m;
  ASSERT_TRUE(m.Create(8, 4));
  EXPECT_TRUE(m.Exists());
  EXPECT_EQ(m.Width(), 8);
  EXPECT_EQ(m.Height(), 4);
  EXPECT_EQ(m.BytesPerLine(), 32);
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 8; ++x) EXPECT_EQ(m.Pixel(x, y), 0u);

  EXPECT_FALSE(m.Create(0, 4));
  EXPECT_FALSE(m.Exists()) << "a refused size leaves no buffer";
  EXPECT_EQ(m.Width(), 0);
  EXPECT_FALSE(m.Create(4, -4));
  EXPECT_FALSE(m.Create(65536, 65536)) << "16 GB cannot be described by a 32-bit bitmap";
  ASSERT_TRUE(m.Create(4, 4));
  m.Release();
  EXPECT_FALSE(m.Exists());
  EXPECT_EQ(m.Height(), 0);
}

TEST(MovieFrame, SameSizeIsCopiedAndPaddingIsDropped) {
  MovieFrame m;
  ASSERT_TRUE(m.Create(5, 3));
  TestPicture p = Numbered(5, 3);
  for (auto& px : p.pixels) px |= 0xFF000000u;  // the padding byte never reaches the movie
  ASSERT_TRUE(m.Compose(p.frame));
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 5; ++x)
      EXPECT_EQ(m.Pixel(x, y), p.At(x, y) & 0x00FFFFFFu) << x << "," << y;
}

TEST(MovieFrame, SmallerFrameIsCentredOnBlackWithHalvesRoundedDown) {
  MovieFrame m;
  ASSERT_TRUE(m.Create(644, 484));
  // A larger frame first, so that leftovers would show in the border.
  ASSERT_TRUE(m.Compose(TestPicture::Pattern(700, 500, 1).frame));
  const TestPicture p = Numbered(641, 481);
  ASSERT_TRUE(m.Compose(p.frame));
  EXPECT_EQ(m.Pixel(1, 1), p.pixels[0]) << "origin lands on (1, 1)";
  EXPECT_EQ(m.Pixel(641, 481), p.pixels.back());
  EXPECT_EQ(m.Pixel(300, 200), p.pixels[199 * 641 + 299]);
  for (std::int32_t x = 0; x < 644; ++x) {
    EXPECT_EQ(m.Pixel(x, 0), 0u);
    EXPECT_EQ(m.Pixel(x, 482), 0u);
    EXPECT_EQ(m.Pixel(x, 483), 0u);
  }
  for (std::int32_t y = 0; y < 484; ++y) {
    EXPECT_EQ(m.Pixel(0, y), 0u);
    EXPECT_EQ(m.Pixel(642, y), 0u);
    EXPECT_EQ(m.Pixel(643, y), 0u);
  }

  // Smaller in one direction only: still centred, offset 0 in the other.
  ASSERT_TRUE(m.Create(16, 8));
  const TestPicture narrow = Numbered(11, 8);
  ASSERT_TRUE(m.Compose(narrow.frame));
  EXPECT_EQ(m.Pixel(1, 0), 0u);
  EXPECT_EQ(m.Pixel(2, 0), narrow.pixels[0]) << "(16 - 11) / 2 rounds down to 2";
  EXPECT_EQ(m.Pixel(12, 7), narrow.pixels.back());
  EXPECT_EQ(m.Pixel(13, 7), 0u);
}

TEST(MovieFrame, LargerFrameIsStretchedOverTheWholeBuffer) {
  MovieFrame m;
  ASSERT_TRUE(m.Create(640, 480));
  const TestPicture p = Numbered(641, 481);
  ASSERT_TRUE(m.Compose(p.frame));
  for (std::int32_t y : {0, 1, 239, 479}) {
    for (std::int32_t x : {0, 1, 320, 639}) {
      const std::int32_t sx = std::int32_t(std::int64_t(x) * 641 / 640);
      const std::int32_t sy = std::int32_t(std::int64_t(y) * 481 / 480);
      EXPECT_EQ(m.Pixel(x, y), p.pixels[sy * 641 + sx]) << x << "," << y;
    }
  }

  // Wider but shorter: both directions scale independently, so the rows are
  // repeated to fill the height and no black is left.
  ASSERT_TRUE(m.Create(4, 4));
  const TestPicture wide = Numbered(8, 2);
  ASSERT_TRUE(m.Compose(wide.frame));
  for (std::int32_t y = 0; y < 4; ++y) {
    for (std::int32_t x = 0; x < 4; ++x) {
      EXPECT_EQ(m.Pixel(x, y), wide.pixels[(y / 2) * 8 + x * 2]) << x << "," << y;
    }
  }
}

TEST(MovieFrame, EveryDepthIsReadThroughItsMasksOrPalette) {
  MovieFrame m;
  ASSERT_TRUE(m.Create(3, 1));
  std::vector<std::uint8_t> bytes;

  // 24-bit, blue-green-red bytes, rows padded to 12 bytes.
  Frame f24 = RawFrame(bytes, 3, 1, 24, 12);
  const std::uint8_t bgr[] = {0x10, 0x20, 0x30, 0xFF, 0x00, 0x00, 0x01, 0x02, 0x03};
  std::memcpy(bytes.data(), bgr, sizeof bgr);
  ASSERT_TRUE(m.Compose(f24));
  EXPECT_EQ(m.Pixel(0, 0), 0x302010u);
  EXPECT_EQ(m.Pixel(1, 0), 0x0000FFu);
  EXPECT_EQ(m.Pixel(2, 0), 0x030201u);

  // 16-bit 565: five- and six-bit channels widen by bit replication.
  Frame f16 = RawFrame(bytes, 3, 1, 16, 6);
  f16.RedMask = 0xF800;
  f16.GreenMask = 0x07E0;
  f16.BlueMask = 0x001F;
  const std::uint16_t rgb565[] = {0xFFFF, 0xF800, (16 << 11) | (1 << 5) | 1};
  std::memcpy(bytes.data(), rgb565, sizeof rgb565);
  ASSERT_TRUE(m.Compose(f16));
  EXPECT_EQ(m.Pixel(0, 0), 0xFFFFFFu);
  EXPECT_EQ(m.Pixel(1, 0), 0xFF0000u);
  EXPECT_EQ(m.Pixel(2, 0), 0x840408u);

  // 16-bit 555.
  f16.RedMask = 0x7C00;
  f16.GreenMask = 0x03E0;
  f16.BlueMask = 0x001F;
  const std::uint16_t rgb555[] = {0x7FFF, 0x03E0, 0x8000};
  std::memcpy(bytes.data(), rgb555, sizeof rgb555);
  ASSERT_TRUE(m.Compose(f16));
  EXPECT_EQ(m.Pixel(0, 0), 0xFFFFFFu);
  EXPECT_EQ(m.Pixel(1, 0), 0x00FF00u);
  EXPECT_EQ(m.Pixel(2, 0), 0u) << "bits outside the masks are ignored";

  // 32-bit with red in the low byte.
  Frame f32 = RawFrame(bytes, 3, 1, 32, 12);
  f32.RedMask = 0x0000FF;
  f32.BlueMask = 0xFF0000;
  const std::uint32_t bgrx[] = {0x000000FF, 0x00FF0000, 0xAA123456};
  std::memcpy(bytes.data(), bgrx, sizeof bgrx);
  ASSERT_TRUE(m.Compose(f32));
  EXPECT_EQ(m.Pixel(0, 0), 0xFF0000u);
  EXPECT_EQ(m.Pixel(1, 0), 0x0000FFu);
  EXPECT_EQ(m.Pixel(2, 0), 0x563412u);

  // 8-bit through the frame's palette, or a grey ramp without one.
  Palette palette;
  palette.Entries[7] = PaletteEntry{0x11, 0x22, 0x33, 0};
  palette.Entries[200] = PaletteEntry{0xFE, 0x00, 0x01, 0};
  Frame f8 = RawFrame(bytes, 3, 1, 8, 4);
  bytes[0] = 7;
  bytes[1] = 200;
  bytes[2] = 0;
  f8.Colors = &palette;
  ASSERT_TRUE(m.Compose(f8));
  EXPECT_EQ(m.Pixel(0, 0), 0x112233u);
  EXPECT_EQ(m.Pixel(1, 0), 0xFE0001u);
  EXPECT_EQ(m.Pixel(2, 0), 0u);
  f8.Colors = nullptr;
  ASSERT_TRUE(m.Compose(f8));
  EXPECT_EQ(m.Pixel(1, 0), 0xC8C8C8u);
}

TEST(MovieFrame, UnreadableFramesLeaveTheBufferBlack) {
  MovieFrame m;
  ASSERT_TRUE(m.Create(2, 2));
  ASSERT_TRUE(m.Compose(TestPicture::Pattern(2, 2, 1).frame));
  std::vector<std::uint8_t> bytes;
  Frame f4 = RawFrame(bytes, 2, 2, 4, 4);
  EXPECT_FALSE(m.Compose(f4)) << "4-bit frames are not produced by any display we grab";
  EXPECT_EQ(m.Pixel(0, 0), 0u);
  Frame shortRows = RawFrame(bytes, 2, 2, 32, 4);
  EXPECT_FALSE(m.Compose(shortRows)) << "rows shorter than the width";
  EXPECT_FALSE(m.Compose(Frame{})) << "no pixels";

  MovieFrame none;
  EXPECT_FALSE(none.Compose(TestPicture::Pattern(2, 2, 1).frame));
}

}  // namespace
}  // namespace framory
