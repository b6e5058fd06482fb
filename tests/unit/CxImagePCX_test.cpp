// PCX encoder: header fields, both run-length packers on known vectors, the
// 8-bit palette trailer, bit-plane layout, and decoding (netpbm's pcxtoppm
// and a small reader here) back to the pixels that went in.
#include "imaging/CxImagePCX.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "imaging/CxMemFile.h"
#include "support/ImageDecode.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using namespace framory::testing;
using Bytes = std::vector<std::uint8_t>;

std::string EncodeToMemory(CxImage& image) {
  CxMemFile file;
  EXPECT_TRUE(image.Encode(&file, 5)) << image.LastError();
  return std::string(reinterpret_cast<const char*>(file.Buffer()), file.Size());
}

// The run-length decoding every PCX reader does: a byte with its top two bits
// set is a count for the byte after it.
Bytes Unpack(const std::string& data, std::size_t from, std::size_t to) {
  Bytes out;
  for (std::size_t i = from; i < to; ++i) {
    const auto b = static_cast<std::uint8_t>(data[i]);
    if ((b & 0xC0) == 0xC0) {
      out.insert(out.end(), b & 0x3F, static_cast<std::uint8_t>(data[++i]));
    } else {
      out.push_back(b);
    }
  }
  return out;
}

// The packer as a pixel-at-a-time machine with a current value and a count,
// cut at 63 and flushed by an end-of-line marker (-1 even width, -2 odd).
Bytes ReferenceByteRuns(const Bytes& line, bool odd) {
  Bytes out;
  int c = 0, n = 0;
  auto emit = [&] {
    if (n == 1 && c < 0xC0) {
      out.push_back(static_cast<std::uint8_t>(c));
    } else {
      out.push_back(static_cast<std::uint8_t>(0xC0 | n));
      out.push_back(static_cast<std::uint8_t>(c));
    }
  };
  std::vector<int> inputs(line.begin(), line.end());
  inputs.push_back(odd ? -2 : -1);
  for (int p : inputs) {
    if (p != c && n > 0) {
      emit();
      n = 0;
    }
    if (n == 63) {
      out.push_back(0xFF);
      out.push_back(static_cast<std::uint8_t>(c));
      n = 0;
    }
    if (p == -2) out.push_back(0x00);
    c = p & 0xFF;
    ++n;
  }
  return out;
}

Bytes ByteRuns(const Bytes& line, bool odd) {
  Bytes out(2 * line.size() + 1);
  out.resize(CxImagePCX::PackByteRuns(line.data(), line.size(), 1, odd, out.data()));
  return out;
}

Bytes Plane(const Bytes& line) {
  Bytes out(2 * line.size() + 1);
  out.resize(CxImagePCX::PackPlane(line.data(), line.size(), out.data()));
  return out;
}

TEST(CxImagePCXPacker, KnownVectors) {
  EXPECT_EQ(ByteRuns(Bytes(100, 0x10), false), (Bytes{0xFF, 0x10, 0xE5, 0x10}));
  EXPECT_EQ(ByteRuns(Bytes{0x01, 0xC5, 0x02, 0x20}, false), (Bytes{0x01, 0xC1, 0xC5, 0x02, 0x20}));
  EXPECT_EQ(ByteRuns(Bytes{0x20}, true), (Bytes{0x20, 0x00})) << "odd width pads with 0x00";
  EXPECT_EQ(ByteRuns(Bytes(63, 0xC0), false), (Bytes{0xFF, 0xC0}));
  EXPECT_EQ(ByteRuns(Bytes(64, 0x05), false), (Bytes{0xFF, 0x05, 0x05}));
  EXPECT_EQ(ByteRuns(Bytes{0, 0, 0}, true), (Bytes{0xC3, 0x00, 0x00}));

  EXPECT_EQ(Plane(Bytes{0xFF, 0xFF, 0x00, 0xC3, 0x7F}),
            (Bytes{0xC2, 0xFF, 0x00, 0xC1, 0xC3, 0x7F}));
  EXPECT_EQ(Plane(Bytes(130, 0xAA)), (Bytes{0xFF, 0xAA, 0xFF, 0xAA, 0xC4, 0xAA}));
}

TEST(CxImagePCXPacker, MatchesThePixelAtATimeMachineOnRandomLines) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::size_t length = 1 + random() % 300;
    Bytes line(length);
    // Few distinct values, so long runs, cuts at 63 and values ≥ 0xC0 all occur.
    const std::uint8_t values[] = {0x00, 0x01, 0xBF, 0xC0, 0xC5, 0xFF};
    for (std::size_t i = 0; i < length;) {
      const std::size_t run = 1 + random() % (trial % 3 == 0 ? 140 : 4);
      const std::uint8_t v = values[random() % 6];
      for (std::size_t k = 0; k < run && i < length; ++k) line[i++] = v;
    }
    const bool odd = (length & 1) != 0;
    const Bytes packed = ByteRuns(line, odd);
    ASSERT_EQ(packed, ReferenceByteRuns(line, odd)) << "trial " << trial;
    Bytes expected = line;
    if (odd) expected.push_back(0);
    const std::string s(packed.begin(), packed.end());
    ASSERT_EQ(Unpack(s, 0, s.size()), expected) << "trial " << trial;
  }
}

TEST(CxImagePCXFile, TwentyFourBit641PixelLineHasThreePaddedPlanes) {
  CxImage image(0);
  ASSERT_NE(image.Create(641, 1, 32, 0), nullptr);
  EXPECT_EQ(image.EffectiveWidth(), 1924u);
  std::uint8_t* row = image.TopDownRow(0);
  for (int x = 0; x < 641; ++x) {
    row[3 * x] = 0x11;      // blue
    row[3 * x + 1] = 0x22;  // green
    row[3 * x + 2] = 0x33;  // red
  }
  const std::string file = EncodeToMemory(image);
  ASSERT_GE(file.size(), 128u);
  EXPECT_EQ(static_cast<std::uint8_t>(file[0]), 0x0A);
  EXPECT_EQ(file[1], 5);
  EXPECT_EQ(file[2], 1);
  EXPECT_EQ(file[3], 8) << "bits per pixel per plane";
  EXPECT_EQ(Le16(file, 8), 640);
  EXPECT_EQ(Le16(file, 10), 0);
  EXPECT_EQ(Le16(file, 12), 96);
  EXPECT_EQ(Le16(file, 14), 96);
  EXPECT_EQ(file[65], 3) << "planes";
  EXPECT_EQ(Le16(file, 66), 642) << "bytes per plane line";
  EXPECT_EQ(Le16(file, 68), 1) << "palette information";
  EXPECT_EQ(file.substr(16, 48), std::string(48, '\0')) << "no colour map";
  EXPECT_EQ(file.substr(70, 58), std::string(58, '\0'));
  // 641 = 63 × 10 + 11: ten full runs, a run of 11, the padding byte.
  Bytes plane;
  for (int k = 0; k < 10; ++k) plane.insert(plane.end(), {0xFF, 0});
  plane.insert(plane.end(), {0xCB, 0, 0x00});
  Bytes expected;
  for (std::uint8_t v : {0x33, 0x22, 0x11}) {  // red, green, blue
    for (std::size_t i = 0; i < plane.size(); i += 1) {
      expected.push_back(plane[i] == 0 && i + 1 != plane.size() ? v : plane[i]);
    }
  }
  EXPECT_EQ(Bytes(file.begin() + 128, file.end()), expected);
}

TEST(CxImagePCXFile, EightBitFilesEndWithTheFullPalette) {
  CxImage image(0);
  ASSERT_NE(image.Create(100, 2, 8, 0), nullptr);
  CxRgbQuad* palette = image.PaletteEntries();
  for (int i = 0; i < 256; ++i) {
    palette[i] = CxRgbQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i ^ 0x55),
                           static_cast<std::uint8_t>(255 - i), 0};
  }
  std::memset(image.TopDownRow(0), 0x10, 100);
  std::memset(image.TopDownRow(1), 0x10, 100);
  image.TopDownRow(1)[50] = 0xC5;
  image.TopDownRow(1)[51] = 0x20;
  const std::string file = EncodeToMemory(image);
  EXPECT_EQ(file[3], 8);
  EXPECT_EQ(file[65], 1);
  EXPECT_EQ(Le16(file, 66), 100);
  EXPECT_EQ(Le16(file, 68), 0);
  const Bytes body{0xFF, 0x10, 0xE5, 0x10,                     // line 0
                   0xF2, 0x10, 0xC1, 0xC5, 0x20, 0xF0, 0x10};  // line 1: 50, C5, 20, 48
  ASSERT_EQ(file.size(), 128 + body.size() + 769);
  EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 128 + body.size()), body);
  const std::size_t trailer = 128 + body.size();
  EXPECT_EQ(static_cast<std::uint8_t>(file[trailer]), 0x0C);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(static_cast<std::uint8_t>(file[trailer + 1 + 3 * i]), 255 - i) << "red " << i;
    ASSERT_EQ(static_cast<std::uint8_t>(file[trailer + 2 + 3 * i]), i ^ 0x55) << "green " << i;
    ASSERT_EQ(static_cast<std::uint8_t>(file[trailer + 3 + 3 * i]), i) << "blue " << i;
  }
}

TEST(CxImagePCXFile, OneBitImagesWithABrightEntryZeroAreInverted) {
  CxImage image(0);
  ASSERT_NE(image.Create(10, 1, 1, 0), nullptr);
  image.PaletteEntries()[0] = CxRgbQuad{255, 255, 255, 0};  // white
  image.PaletteEntries()[1] = CxRgbQuad{0, 0, 0, 0};        // black
  image.TopDownRow(0)[0] = 0xF0;                            // black, black, black, black, white…
  image.TopDownRow(0)[1] = 0x00;
  std::string file = EncodeToMemory(image);
  EXPECT_EQ(file[3], 1);
  EXPECT_EQ(file[65], 1);
  EXPECT_EQ(Le16(file, 66), 2);
  EXPECT_EQ(file.substr(16, 6), std::string("\0\0\0\xFF\xFF\xFF", 6)) << "0 black, 1 white";
  // Bit value 1 = white: pixels 4..9 are white in the file; bits beyond the
  // width stay 0.
  EXPECT_EQ(Unpack(file, 128, file.size()), (Bytes{0x0F, 0xC0}));

  // The normal order is kept as it is.
  std::swap(image.PaletteEntries()[0], image.PaletteEntries()[1]);
  file = EncodeToMemory(image);
  EXPECT_EQ(Unpack(file, 128, file.size()), (Bytes{0xF0, 0x00}));
}

TEST(CxImagePCXFile, FourBitImagesGiveFourPlanesAndAColourMap) {
  CxImage image(0);
  ASSERT_NE(image.Create(9, 1, 4, 0), nullptr);
  for (int i = 0; i < 16; ++i) {
    image.PaletteEntries()[i] =
        CxRgbQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(16 * i),
                  static_cast<std::uint8_t>(200 + i), 0};
  }
  // Indices 0..8: plane k has bit k of each.
  const std::uint8_t packed[5] = {0x01, 0x23, 0x45, 0x67, 0x80};
  std::memcpy(image.TopDownRow(0), packed, 5);
  const std::string file = EncodeToMemory(image);
  EXPECT_EQ(file[3], 1);
  EXPECT_EQ(file[65], 4);
  EXPECT_EQ(Le16(file, 66), 2) << "(9 + 7) / 8 = 2, already even";
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(static_cast<std::uint8_t>(file[16 + 3 * i]), 200 + i);
    EXPECT_EQ(static_cast<std::uint8_t>(file[17 + 3 * i]), 16 * i);
    EXPECT_EQ(static_cast<std::uint8_t>(file[18 + 3 * i]), i);
  }
  // Pixels 0..8 → plane 0: 0,1,0,1,0,1,0,1 | 0 → 0x55 0x00; plane 1: 0x33 0x00;
  // plane 2: 0x0F 0x00; plane 3: 0x00 0x80.
  EXPECT_EQ(Unpack(file, 128, file.size()),
            (Bytes{0x55, 0x00, 0x33, 0x00, 0x0F, 0x00, 0x00, 0x80}));
}

TEST(CxImagePCXFile, DecodesToThePixelsThatWentIn) {
  if (!HaveTool("pcxtoppm")) GTEST_SKIP() << "netpbm's pcxtoppm is not installed";
  ExpectToolDecodesEveryDepthAndSize(
      "pcxtoppm", 5, ".pcx",
      [](const PictureSize& size, std::uint32_t bpp) { return size.Height * 3 + bpp; });
}

TEST(CxImagePCXFile, WriteFailures) {
  CxImage image(0);
  ASSERT_NE(image.Create(50, 50, 8, 0), nullptr);
  FillTestPicture(&image);
  FailingFile noRoom(100);
  EXPECT_FALSE(image.Encode(&noRoom, 5));
  EXPECT_STREQ(image.LastError(), "cannot write PCX header");
  EXPECT_EQ(noRoom.Written().size(), 0u) << "the header is one write of 128 bytes";

  FailingFile bodyFails(200);
  EXPECT_FALSE(image.Encode(&bodyFails, 5));
  EXPECT_STREQ(image.LastError(), "cannot write PCX data --- out of disk space?");

  CxMemFile whole;
  ASSERT_TRUE(image.Encode(&whole, 5));
  FailingFile justShort(static_cast<std::size_t>(whole.Size()) - 1);
  EXPECT_FALSE(image.Encode(&justShort, 5)) << "the last palette byte is missing";

  EXPECT_FALSE(image.SaveFile("/dev/full", 5));
  EXPECT_STREQ(image.LastError(), "cannot write PCX data --- out of disk space?");
}

}  // namespace
}  // namespace framory
