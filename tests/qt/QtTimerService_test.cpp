// The capture timers on the Qt event loop: expiries come back by id, a timer
// repeats until killed, and setting a running id again restarts it with the
// new period.
#include "platform/qt/QtTimerService.h"

#include <gtest/gtest.h>

#include <map>

#include "support/QtGTestMain.h"
#include "support/QtPump.h"

namespace framory {
namespace {

using testing::PumpUntil;

TEST(QtTimerService, ExpiriesArriveByIdUntilKilled) {
  QtTimerService timers;
  std::map<std::int32_t, int> fired;
  timers.SetExpiryHandler([&](std::int32_t id) {
    ++fired[id];
    if (id == 1) timers.KillTimer(1);  // as the delayed-shot handler does
  });
  timers.SetTimer(1, 5);
  timers.SetTimer(2, 5);
  EXPECT_TRUE(PumpUntil([&] { return fired[2] >= 5; })) << "timer 2 repeats";
  EXPECT_EQ(fired[1], 1) << "timer 1 was killed at its first expiry";
  EXPECT_FALSE(timers.IsRunning(1));
  EXPECT_TRUE(timers.IsRunning(2));
  timers.KillTimer(2);
  EXPECT_FALSE(timers.IsRunning(2));
  timers.KillTimer(7);  // an id never set is harmless
}

TEST(QtTimerService, SettingARunningIdRestartsWithTheNewPeriod) {
  QtTimerService timers;
  timers.SetTimer(2, 100);
  timers.SetTimer(2, 40);
  EXPECT_EQ(timers.Period(2), 40);
  EXPECT_TRUE(timers.IsRunning(2));
}

TEST(QtTimerService, PeriodsBelowTenMillisecondsRunAtTenAndNegativeOnesNeverSoon) {
  // A TimerValue of 0 or less can come straight from the stored settings.
  QtTimerService timers;
  timers.SetTimer(2, 0);
  EXPECT_EQ(timers.Period(2), 10) << "a 0 ms timer would spin the event loop";
  timers.SetTimer(2, 3);
  EXPECT_EQ(timers.Period(2), 10);
  timers.SetTimer(2, 10);
  EXPECT_EQ(timers.Period(2), 10);
  timers.SetTimer(2, 11);
  EXPECT_EQ(timers.Period(2), 11);
  timers.SetTimer(2, -5);
  EXPECT_EQ(timers.Period(2), 0x7FFFFFFF);
  EXPECT_TRUE(timers.IsRunning(2));
}

}  // namespace
}  // namespace framory
