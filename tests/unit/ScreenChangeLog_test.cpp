// The decision behind movie repeats: a frame may be repeated only when the
// view is the same as the last frame's and nothing was drawn touching it.
#include "capture/ScreenChangeLog.h"

#include <gtest/gtest.h>

namespace framory {
namespace {

const ShotView kView{Rect{100, 100, 300, 200}, true, Point{5, 5}};

TEST(ScreenChangeLogTest, OnlyTheViewOfTheLastFrameCanBeUnchanged) {
  ScreenChangeLog log;
  EXPECT_FALSE(log.Unchanged(kView)) << "no frame yet";
  log.FrameTaken(kView);
  EXPECT_TRUE(log.Unchanged(kView));

  ShotView moved = kView;
  moved.ScreenRect.left += 1;
  moved.ScreenRect.right += 1;
  EXPECT_FALSE(log.Unchanged(moved)) << "a region that moved is a change";
  ShotView pointer = kView;
  pointer.CursorPosition.x += 1;
  EXPECT_FALSE(log.Unchanged(pointer)) << "a pointer that moved is a change";
  ShotView noCursor = kView;
  noCursor.CursorDrawn = false;
  EXPECT_FALSE(log.Unchanged(noCursor)) << "turning the pointer off changes the frame";

  log.Forget();
  EXPECT_FALSE(log.Unchanged(kView));
}

TEST(ScreenChangeLogTest, DrawingInsideOrOnTheEdgeIsAChangeOutsideIsNot) {
  ScreenChangeLog log;
  log.FrameTaken(kView);
  log.AddDamage(Rect{0, 0, 100, 100});  // ends just left of and above the region
  log.AddDamage(Rect{301, 0, 400, 400});
  log.AddDamage(Rect{0, 201, 400, 400});
  log.AddDamage(Rect{10, 10, 10, 50});  // empty
  EXPECT_TRUE(log.Unchanged(kView));

  for (const Rect& inside : {Rect{150, 150, 151, 151}, Rect{0, 0, 101, 101},
                             Rect{300, 200, 310, 210}, Rect{0, 0, 1000, 1000}}) {
    ScreenChangeLog fresh;
    fresh.FrameTaken(kView);
    fresh.AddDamage(inside);
    EXPECT_FALSE(fresh.Unchanged(kView)) << inside.left << "," << inside.top;
  }

  log.AddDamage(Rect{299, 199, 301, 201});
  EXPECT_FALSE(log.Unchanged(kView));
  log.FrameTaken(kView);
  EXPECT_TRUE(log.Unchanged(kView)) << "a new frame starts with no damage";
}

TEST(ScreenChangeLogTest, APointerImageChangeCountsOnlyWhenThePointerIsDrawn) {
  ScreenChangeLog log;
  ShotView hidden = kView;
  hidden.CursorDrawn = false;
  log.FrameTaken(hidden);
  log.CursorImageChanged();
  EXPECT_TRUE(log.Unchanged(hidden));

  log.FrameTaken(kView);
  log.CursorImageChanged();
  EXPECT_FALSE(log.Unchanged(kView));
}

TEST(ScreenChangeLogTest, ManyRectanglesCollapseButStillCoverEveryOne) {
  ScreenChangeLog log;
  const ShotView far{Rect{5000, 5000, 5100, 5100}, false, {}};
  log.FrameTaken(far);
  // Small rectangles on a diagonal, none inside the far region, then one
  // more than the log keeps: the bounding box now reaches the region.
  for (std::size_t i = 0; i < ScreenChangeLog::kMaxRects; ++i) {
    const std::int32_t p = static_cast<std::int32_t>(i) * 10;
    log.AddDamage(Rect{p, p, p + 2, p + 2});
  }
  EXPECT_TRUE(log.Unchanged(far));
  log.AddDamage(Rect{6000, 6000, 6001, 6001});
  EXPECT_FALSE(log.Unchanged(far));

  ScreenChangeLog other;
  const ShotView mid{Rect{300, 300, 305, 305}, false, {}};
  other.FrameTaken(mid);
  for (std::size_t i = 0; i <= ScreenChangeLog::kMaxRects; ++i) {
    const std::int32_t p = static_cast<std::int32_t>(i) * 10;
    other.AddDamage(Rect{p, p, p + 2, p + 2});
  }
  EXPECT_FALSE(other.Unchanged(mid)) << "(300,300) lies on the diagonal";
}

TEST(ScreenChangeLogTest, WhatWasDrawnIsKnownOnlySinceAFrameOfTheSameRectangle) {
  ScreenChangeLog log;
  std::vector<Rect> drawn{Rect{1, 1, 2, 2}};
  EXPECT_FALSE(log.DrawnSince(kView.ScreenRect, &drawn)) << "no frame yet";
  log.FrameTaken(kView);
  log.AddDamage(Rect{120, 120, 130, 125});
  log.AddDamage(Rect{0, 0, 5, 5});   // elsewhere: reported as it came
  log.AddDamage(Rect{9, 9, 9, 20});  // empty: not kept
  ASSERT_TRUE(log.DrawnSince(kView.ScreenRect, &drawn));
  EXPECT_EQ(drawn, (std::vector<Rect>{Rect{120, 120, 130, 125}, Rect{0, 0, 5, 5}}));
  EXPECT_TRUE(log.DrawnSince(kView.ScreenRect, nullptr));

  // The pointer moving or changing does not matter here (it is drawn anew),
  // the rectangle moving does.
  Rect moved = kView.ScreenRect;
  moved.left += 1;
  EXPECT_FALSE(log.DrawnSince(moved, &drawn));
  log.FrameTaken(kView);
  ASSERT_TRUE(log.DrawnSince(kView.ScreenRect, &drawn));
  EXPECT_TRUE(drawn.empty()) << "a new frame starts with nothing drawn";
  log.Forget();
  EXPECT_FALSE(log.DrawnSince(kView.ScreenRect, &drawn));
}

}  // namespace
}  // namespace framory
