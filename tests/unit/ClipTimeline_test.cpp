// Where the frames of a timer-driven clip go, on a clock the test moves: the
// nearest period boundary, the next free position on a collision, the
// positions nobody reached left as gaps, and paused time left out.
#include "capture/ClipTimeline.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/ManualClock.h"

namespace framory {
namespace {

using testing::ManualClock;

// Takes a shot after each of `delays` (milliseconds) and returns the positions.
std::vector<std::int32_t> Shots(ClipTimeline& timeline, ManualClock& clock,
                                const std::vector<double>& delays) {
  std::vector<std::int32_t> positions;
  for (double d : delays) {
    clock.AdvanceMilliseconds(d);
    positions.push_back(timeline.NextPosition());
  }
  return positions;
}

TEST(ClipTimeline, ShotsGoToTheNearestPeriodAndSlowShotsLeaveGaps) {
  ManualClock clock;
  ClipTimeline timeline(clock);
  timeline.Start(10);
  EXPECT_EQ(timeline.NextPosition(), 0) << "the first shot starts the clip";
  // On time, a little late, a little early, then a machine that manages only
  // one shot in 24 ms: positions 1, 2, 3, then every second or third one.
  EXPECT_EQ(Shots(timeline, clock, {10, 14.9, 5.2, 24, 24, 24}),
            (std::vector<std::int32_t>{1, 2, 3, 5, 8, 10}));
  // 10 minutes without a shot: the gap is kept whole, however long.
  EXPECT_EQ(Shots(timeline, clock, {600000}), (std::vector<std::int32_t>{60010}));
}

TEST(ClipTimeline, ACollisionTakesTheNextFreePosition) {
  ManualClock clock;
  ClipTimeline timeline(clock);
  timeline.Start(40);
  EXPECT_EQ(timeline.NextPosition(), 0);
  // Three shots at once (a click and a key right after a timer shot), then
  // the timer again: the burst spreads forward and the clock catches up.
  EXPECT_EQ(Shots(timeline, clock, {40, 0, 0, 40, 40, 40}),
            (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Shots(timeline, clock, {0, 0, 1}), (std::vector<std::int32_t>{7, 8, 9}));
  EXPECT_EQ(Shots(timeline, clock, {150}), (std::vector<std::int32_t>{10}))
      << "at 311 ms the clock says 8, which the burst already took";
  EXPECT_EQ(Shots(timeline, clock, {200}), (std::vector<std::int32_t>{13}))
      << "at 511 ms the clock has caught up";
}

TEST(ClipTimeline, PausedTimeIsNotAGap) {
  ManualClock clock;
  ClipTimeline timeline(clock);
  timeline.Start(100);
  EXPECT_EQ(Shots(timeline, clock, {0, 100, 100}), (std::vector<std::int32_t>{0, 1, 2}));
  clock.AdvanceMilliseconds(50);
  timeline.Paused();
  clock.AdvanceMilliseconds(3000);
  // A shot that still arrives while paused counts at the pause.
  EXPECT_EQ(timeline.NextPosition(), 3) << "250 ms of active time";
  timeline.Paused();  // told twice: the pause began at the first
  clock.AdvanceMilliseconds(7000);
  timeline.Resumed();
  // The timer's first shot a period after the resume: 350 ms of active time.
  EXPECT_EQ(Shots(timeline, clock, {100}), (std::vector<std::int32_t>{4}));
  timeline.Resumed();  // a resume without a pause changes nothing
  EXPECT_EQ(Shots(timeline, clock, {100}), (std::vector<std::int32_t>{5}));

  // A pause before the clip began, or after it ended, is nobody's.
  timeline.Reset();
  timeline.Paused();
  clock.AdvanceMilliseconds(500);
  timeline.Resumed();
  timeline.Start(100);
  EXPECT_EQ(Shots(timeline, clock, {0, 100}), (std::vector<std::int32_t>{0, 1}));
}

}  // namespace
}  // namespace framory
