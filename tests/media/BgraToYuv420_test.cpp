// The AVI codec streams' own colour conversion against libswscale's, on flat
// 8 × 8 blocks of colours across the whole range (saturated primaries, greys,
// black, white and mixed shades), with rows given top-down and bottom-up.
#include "platform/media/BgraToYuv420.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/media/FfmpegHandles.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace framory {
namespace {

constexpr int kWidth = 96, kHeight = 64, kBlock = 8;

std::uint32_t BlockColour(int bx, int by) {
  static const std::uint32_t kColours[] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF,
                                           0xFFFF00, 0x00FFFF, 0xFF00FF, 0x808080, 0x3A6EA5,
                                           0xD4D0C8, 0x102030, 0xF0E0D0, 0x7F007F, 0x01FE80};
  return kColours[(bx * 7 + by * 3) % (sizeof kColours / sizeof kColours[0])];
}

struct Planes {
  std::vector<std::uint8_t> y = std::vector<std::uint8_t>(kWidth * kHeight);
  std::vector<std::uint8_t> u = std::vector<std::uint8_t>(kWidth * kHeight / 4);
  std::vector<std::uint8_t> v = std::vector<std::uint8_t>(kWidth * kHeight / 4);
};

TEST(BgraToYuv420, MatchesLibswscaleOnFlatColoursInBothRowOrders) {
  std::vector<std::uint32_t> topDown(kWidth * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      // The pad byte carries junk, as grabbed pixels may.
      topDown[y * kWidth + x] = BlockColour(x / kBlock, y / kBlock) | 0xA5000000u;
    }
  }
  std::vector<std::uint32_t> bottomUp(topDown.size());
  for (int y = 0; y < kHeight; ++y) {
    std::copy_n(&topDown[y * kWidth], kWidth, &bottomUp[(kHeight - 1 - y) * kWidth]);
  }

  Planes reference;
  ScaleHandle sws(sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR0, kWidth, kHeight,
                                 AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
  ASSERT_NE(sws, nullptr);
  const std::uint8_t* in[1] = {reinterpret_cast<const std::uint8_t*>(topDown.data())};
  const int inStride[1] = {kWidth * 4};
  std::uint8_t* out[3] = {reference.y.data(), reference.u.data(), reference.v.data()};
  const int outStride[3] = {kWidth, kWidth / 2, kWidth / 2};
  sws_scale(sws.get(), in, inStride, 0, kHeight, out, outStride);

  Planes fromTop, fromBottom;
  const auto* top = reinterpret_cast<const std::uint8_t*>(topDown.data());
  ConvertBgraToYuv420(
      top, kWidth * 4, kWidth, kHeight,
      {fromTop.y.data(), fromTop.u.data(), fromTop.v.data(), kWidth, kWidth / 2, kWidth / 2});
  const auto* lastRow = reinterpret_cast<const std::uint8_t*>(bottomUp.data()) +
                        std::ptrdiff_t{kHeight - 1} * kWidth * 4;
  ConvertBgraToYuv420(lastRow, -kWidth * 4, kWidth, kHeight,
                      {fromBottom.y.data(), fromBottom.u.data(), fromBottom.v.data(), kWidth,
                       kWidth / 2, kWidth / 2});

  EXPECT_EQ(fromTop.y, fromBottom.y);
  EXPECT_EQ(fromTop.u, fromBottom.u);
  EXPECT_EQ(fromTop.v, fromBottom.v);
  int worst = 0;
  for (std::size_t i = 0; i < reference.y.size(); ++i) {
    worst = std::max(worst, std::abs(int(fromTop.y[i]) - int(reference.y[i])));
  }
  for (std::size_t i = 0; i < reference.u.size(); ++i) {
    worst = std::max(worst, std::abs(int(fromTop.u[i]) - int(reference.u[i])));
    worst = std::max(worst, std::abs(int(fromTop.v[i]) - int(reference.v[i])));
  }
  EXPECT_LE(worst, 1) << "rounding apart, the same limited-range BT.601 values";
  // Black and white land on the limited range's ends.
  EXPECT_EQ(fromTop.y[0], 16);
  EXPECT_EQ(fromTop.u[0], 128);
  EXPECT_EQ(fromTop.y[kBlock * kWidth + 4 * kBlock], 235) << "the white block";
}

}  // namespace
}  // namespace framory
