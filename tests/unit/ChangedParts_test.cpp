// The parts of a region re-read after a small change: whatever the display
// reported, the parts lie inside the region, cover every drawn pixel in it,
// and a change too large, or too scattered to read part by part, asks for
// the whole region.
#include "capture/ChangedParts.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace framory {
namespace {

const Rect kRegion{100, 50, 500, 350};  // 400 × 300 on screen

// Every pixel of `drawn` inside the region is in some part, and every part
// lies inside the region's 400 × 300 frame.
void ExpectCovered(const std::vector<Rect>& drawn, const std::vector<Rect>& parts) {
  for (const Rect& p : parts) {
    EXPECT_GE(p.left, 0);
    EXPECT_GE(p.top, 0);
    EXPECT_LE(p.right, 400);
    EXPECT_LE(p.bottom, 300);
    EXPECT_LT(p.left, p.right);
    EXPECT_LT(p.top, p.bottom);
  }
  for (const Rect& d : drawn) {
    for (int y = std::max(d.top, kRegion.top); y < std::min(d.bottom, kRegion.bottom); ++y) {
      for (int x = std::max(d.left, kRegion.left); x < std::min(d.right, kRegion.right); ++x) {
        const int fx = x - kRegion.left, fy = y - kRegion.top;
        bool in = false;
        for (const Rect& p : parts) {
          in = in || (fx >= p.left && fx < p.right && fy >= p.top && fy < p.bottom);
        }
        ASSERT_TRUE(in) << "screen pixel " << x << "," << y << " not re-read";
      }
    }
  }
}

TEST(ChangedParts, HostileRectanglesAreClippedOrDropped) {
  const std::vector<Rect> drawn = {
      Rect{0, 0, 50, 40},                // wholly outside, above left
      Rect{600, 400, 700, 500},          // wholly outside, below right
      Rect{150, 100, 150, 200},          // zero width
      Rect{150, 100, 200, 100},          // zero height
      Rect{300, 200, 250, 150},          // inverted
      Rect{INT_MIN, INT_MIN, 110, 60},   // extreme left/top, reaches 10 × 10 in
      Rect{495, 345, INT_MAX, INT_MAX},  // extreme right/bottom, 5 × 5 in
      Rect{120, 70, 160, 110},           // inside
      Rect{140, 90, 180, 130},           // overlapping the previous
      Rect{-5, 60, 101, 61},             // touches only the left column
  };
  std::vector<Rect> parts;
  ASSERT_TRUE(ChangedParts(drawn, kRegion, &parts));
  ExpectCovered(drawn, parts);
  EXPECT_EQ(parts.size(), 5u) << "only the five rectangles with pixels inside remain";
  EXPECT_EQ(parts[0], (Rect{0, 0, 10, 10}));
  EXPECT_EQ(parts[1], (Rect{395, 295, 400, 300}));
}

TEST(ChangedParts, NothingInsideIsAnEmptyUpdateNotAWholeRead) {
  std::vector<Rect> parts{Rect{1, 2, 3, 4}};
  EXPECT_TRUE(ChangedParts({}, kRegion, &parts));
  EXPECT_TRUE(parts.empty()) << "old contents are cleared";
  EXPECT_TRUE(ChangedParts({Rect{0, 0, 100, 50}}, kRegion, &parts))
      << "right and bottom are exclusive: this ends just outside";
  EXPECT_TRUE(parts.empty());
}

TEST(ChangedParts, MoreThanAQuarterOrADegenerateRegionReadsEverything) {
  std::vector<Rect> parts;
  // 200 × 150 is exactly a quarter of 400 × 300.
  EXPECT_TRUE(ChangedParts({Rect{100, 50, 300, 200}}, kRegion, &parts));
  EXPECT_FALSE(ChangedParts({Rect{100, 50, 301, 200}}, kRegion, &parts));
  EXPECT_TRUE(parts.empty());
  // Two overlapping rectangles each under a quarter, read twice: over.
  EXPECT_FALSE(ChangedParts({Rect{100, 50, 250, 200}, Rect{100, 50, 250, 200}}, kRegion, &parts));
  // A rectangle covering the screen counts only what lies in the region.
  EXPECT_FALSE(ChangedParts({Rect{-10000, -10000, 10000, 10000}}, kRegion, &parts));
  for (const Rect& region :
       {Rect{10, 10, 10, 20}, Rect{10, 10, 5, 20}, Rect{INT_MIN, 0, INT_MAX, 1}}) {
    EXPECT_FALSE(ChangedParts({Rect{10, 10, 11, 11}}, region, &parts))
        << region.left << ".." << region.right;
  }
  EXPECT_FALSE(ChangedParts({}, kRegion, nullptr));
}

TEST(ChangedParts, ManyScatteredRectanglesBecomeTheirBoundingBox) {
  std::vector<Rect> drawn;
  for (int i = 0; i <= static_cast<int>(kMaxChangedParts); ++i) {
    drawn.push_back(Rect{110 + 5 * i, 60 + 3 * i, 112 + 5 * i, 61 + 3 * i});
  }
  std::vector<Rect> parts;
  ASSERT_TRUE(ChangedParts(drawn, kRegion, &parts));
  ASSERT_EQ(parts.size(), 1u);
  ExpectCovered(drawn, parts);
  drawn.pop_back();
  ASSERT_TRUE(ChangedParts(drawn, kRegion, &parts));
  EXPECT_EQ(parts.size(), kMaxChangedParts) << "up to the limit they stay separate";

  // Scattered to the corners: the box is the whole region, so it is read whole.
  for (int i = 0; i < 20; ++i) {
    drawn.push_back(i % 2 ? Rect{100, 50, 101, 51} : Rect{499, 349, 500, 350});
  }
  EXPECT_FALSE(ChangedParts(drawn, kRegion, &parts));
}

}  // namespace
}  // namespace framory
