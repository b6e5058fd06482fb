// The capture triggers against hand-fed input and window-event sources: the
// chords and their repeat rules, the shot triggers, the marking gesture, the
// delayed shot after window events, system-modal suppression, Ctrl+Break and
// the install/remove failure reports.
#include "capture/InputWatch.h"

#include <gtest/gtest.h>

#include "support/RecorderFakes.h"

namespace framory {
namespace {

using namespace InputMessages;
namespace VK = VirtualKeys;

struct WatchRig {
  WatchRig() {
    settings.SetTakeShotOnKey(false);
    recorder = std::make_unique<Recorder>(
        settings,
        testing::RecorderServices(timers, tray, boxes, pointer, lastError, [this] { ++shots; }));
    watch = std::make_unique<InputWatch>(settings, *recorder, poster, pointer, input, windowEvents);
  }
  // Installs the sources and leaves the recorder active.
  void Start() { ASSERT_TRUE(watch->StartHook()); }
  void Pause() {
    if (!recorder->Paused()) recorder->TogglePause();
  }
  void RightClickAt(int x, int y) {
    pointer.pos = {x, y};
    input.Send(RButtonDown);
    input.Send(RButtonUp);
  }
  Settings settings;
  testing::FakeTimers timers;
  TrayState tray;
  testing::FakeBoxes boxes;
  testing::FakePointer pointer;
  ThreadLastErrorSource lastError;
  testing::FakePoster poster;
  testing::FakeInputSource input;
  testing::FakeWindowEventSource windowEvents;
  std::unique_ptr<Recorder> recorder;
  std::unique_ptr<InputWatch> watch;
  int shots = 0;
};

TEST(InputWatch, StartHookInstallsBothSourcesOnce) {
  WatchRig rig;
  EXPECT_TRUE(rig.watch->StartHook());
  EXPECT_TRUE(rig.watch->StartHook());
  EXPECT_EQ(rig.input.installCalls, 1);
  EXPECT_EQ(rig.windowEvents.installCalls, 1);
  EXPECT_TRUE(rig.watch->JournalHookInstalled());
  EXPECT_TRUE(rig.watch->WinEventHookInstalled());
  EXPECT_TRUE(rig.boxes.shown.empty());
}

TEST(InputWatch, StartHookFailureIsReportedAndPauses) {
  WatchRig rig;
  rig.input.installWorks = false;
  rig.input.installError = 5;
  EXPECT_FALSE(rig.watch->StartHook());
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
  EXPECT_EQ(rig.boxes.shown[0].text, "StartHook failed: GetLastError returned 5\n");
  EXPECT_EQ(rig.boxes.shown[0].caption, "Error - Recorder will go in pause mode");
  EXPECT_TRUE(rig.recorder->Paused());
  EXPECT_EQ(rig.windowEvents.installCalls, 0) << "no window events without the input watch";
  EXPECT_FALSE(rig.watch->JournalHookInstalled());
}

TEST(InputWatch, WindowSourceFailureIsSilent) {
  WatchRig rig;
  rig.windowEvents.installWorks = false;
  EXPECT_TRUE(rig.watch->StartHook());
  EXPECT_FALSE(rig.watch->WinEventHookInstalled());
  EXPECT_TRUE(rig.boxes.shown.empty());
}

TEST(InputWatch, StopHookRemovesBothAndReportsEachFailure) {
  WatchRig rig;
  EXPECT_TRUE(rig.watch->StopHook()) << "nothing installed is success";
  rig.Start();
  EXPECT_TRUE(rig.watch->StopHook());
  EXPECT_EQ(rig.input.removeCalls, 1);
  EXPECT_EQ(rig.windowEvents.removeCalls, 1);
  EXPECT_TRUE(rig.boxes.shown.empty());

  rig.Start();
  rig.input.removeWorks = false;
  rig.input.removeError = 0x578;
  rig.windowEvents.removeWorks = false;
  rig.windowEvents.removeError = 0x57;
  EXPECT_FALSE(rig.watch->StopHook());
  ASSERT_EQ(rig.boxes.shown.size(), 2u);
  EXPECT_EQ(rig.boxes.shown[0].text, "StopHook failed: GetLastError returned 578\n");
  EXPECT_EQ(rig.boxes.shown[1].text, "StopHook failed: GetLastError returned 57\n");
  EXPECT_FALSE(rig.watch->JournalHookInstalled()) << "handles are forgotten anyway";
  EXPECT_FALSE(rig.watch->WinEventHookInstalled());
}

TEST(InputWatch, CtrlThenShiftTogglesOncePerShiftPress) {
  WatchRig rig;
  rig.Start();
  rig.input.KeyDown(VK::Control);
  rig.input.KeyDown(VK::Shift);
  EXPECT_TRUE(rig.recorder->Paused());
  rig.input.KeyDown(VK::Shift);  // auto-repeat
  rig.input.KeyDown(VK::Control);
  rig.input.KeyDown(VK::Shift);
  EXPECT_TRUE(rig.recorder->Paused()) << "held keys repeating must not toggle again";
  rig.input.KeyUp(VK::Shift);
  rig.input.KeyDown(VK::Shift);
  EXPECT_FALSE(rig.recorder->Paused()) << "Shift released and pressed again toggles";
  EXPECT_EQ(rig.poster.posted.size(), 0u) << "Ctrl-then-Shift never toggles the view";
}

TEST(InputWatch, BareChordOnlyTogglesOnReleaseAndNotWithAThirdKey) {
  WatchRig rig;
  rig.settings.SetBareChordOnly(true);
  rig.Start();
  // Ctrl+Shift+T in another program: the T disarms the chord.
  rig.input.KeyDown(VK::Control);
  rig.input.KeyDown(VK::Shift);
  rig.input.KeyDown('T');
  rig.input.KeyUp('T');
  rig.input.KeyUp(VK::Shift);
  rig.input.KeyUp(VK::Control);
  EXPECT_FALSE(rig.recorder->Paused()) << "Ctrl+Shift+T must not toggle";

  // The bare chord toggles once, when the last of the two keys goes up,
  // whichever that is; Shift's auto-repeat neither toggles nor disarms.
  rig.input.KeyDown(VK::Control);
  rig.input.KeyDown(VK::Shift);
  rig.input.KeyDown(VK::Shift);
  EXPECT_FALSE(rig.recorder->Paused()) << "nothing happens while the keys are down";
  rig.input.KeyUp(VK::Control);
  EXPECT_FALSE(rig.recorder->Paused()) << "Shift is still down";
  rig.input.KeyUp(VK::Shift);
  EXPECT_TRUE(rig.recorder->Paused());
  rig.input.KeyDown(VK::Control);
  rig.input.KeyUp(VK::Control);
  EXPECT_TRUE(rig.recorder->Paused()) << "Ctrl alone does not toggle";

  // A key pressed and released before the chord does not spoil it.
  rig.input.KeyDown('C');
  rig.input.KeyUp('C');
  rig.input.KeyDown(VK::Control);
  rig.input.KeyDown(VK::Shift);
  rig.input.KeyUp(VK::Shift);
  rig.input.KeyUp(VK::Control);
  EXPECT_FALSE(rig.recorder->Paused());
}

TEST(InputWatch, ShiftThenCtrlTogglesTheViewAndPausesOnlyWithAutomaticTriggers) {
  WatchRig rig;
  rig.Start();
  rig.settings.SetTakeShotOnClick(true);
  rig.input.KeyDown(VK::Shift);
  rig.input.KeyDown(VK::Control);
  EXPECT_TRUE(rig.recorder->Paused());
  EXPECT_EQ(rig.poster.posted, (std::vector<std::uint32_t>{1026}));
  rig.input.KeyDown(VK::Control);  // repeat
  EXPECT_EQ(rig.poster.posted.size(), 1u);
  rig.input.KeyUp(VK::Control);
  rig.input.KeyDown(VK::Control);  // again while paused: the view only
  EXPECT_TRUE(rig.recorder->Paused());
  EXPECT_EQ(rig.poster.Count(MainWindowMessages::ToggleMainView), 2);
  rig.input.KeyUp(VK::Control);
  rig.input.KeyUp(VK::Shift);

  WatchRig only;
  only.Start();
  only.settings.SetTakeShotOnPrintScreen(true);
  only.input.KeyDown(VK::Shift);
  only.input.KeyDown(VK::Control);
  EXPECT_FALSE(only.recorder->Paused()) << "Print Screen alone does not pause for the view";
  EXPECT_EQ(only.poster.Count(MainWindowMessages::ToggleMainView), 1);
}

TEST(InputWatch, ResumeChordReleasesTakeShotsWithKeyTrigger) {
  WatchRig rig;
  rig.settings.SetTakeShotOnKey(true);
  rig.Start();
  rig.Pause();
  rig.input.KeyDown(VK::Control);
  EXPECT_EQ(rig.shots, 0);
  rig.input.KeyDown(VK::Shift);
  EXPECT_FALSE(rig.recorder->Paused());
  EXPECT_EQ(rig.shots, 0) << "key presses are not key releases";
  rig.input.KeyUp(VK::Shift);
  rig.input.KeyUp(VK::Control);
  EXPECT_EQ(rig.shots, 2);
  rig.input.KeyUp('A');
  EXPECT_EQ(rig.shots, 3);
  rig.input.Send(SysKeyUp, VK::Menu);
  EXPECT_EQ(rig.shots, 3) << "system-key messages are not recorded";
}

TEST(InputWatch, PrintScreenWithOrWithoutCtrl) {
  WatchRig rig;
  rig.settings.SetTakeShotOnPrintScreen(true);
  rig.Start();
  rig.input.KeyDown(VK::Snapshot);
  EXPECT_EQ(rig.shots, 1);
  rig.input.KeyDown(VK::Control);
  rig.input.KeyDown(VK::Snapshot);
  EXPECT_EQ(rig.shots, 2);
  rig.input.KeyUp(VK::Snapshot);
  EXPECT_EQ(rig.shots, 2) << "the release is a key trigger, which is off";
  rig.settings.SetTakeShotOnPrintScreen(false);
  rig.input.KeyDown(VK::Snapshot);
  EXPECT_EQ(rig.shots, 2);
}

TEST(InputWatch, ButtonPressesShootReleasesAndMovesNever) {
  for (bool viaAuto : {false, true}) {
    WatchRig rig;
    (viaAuto ? rig.settings.SetTakeShotOnAuto(true) : rig.settings.SetTakeShotOnClick(true));
    rig.Start();
    for (std::uint32_t m :
         {LButtonDown, LButtonDblClk, RButtonDown, RButtonDblClk, MButtonDown, MButtonDblClk}) {
      const int before = rig.shots;
      rig.input.Send(m);
      EXPECT_EQ(rig.shots, before + 1) << std::hex << m;
    }
    for (std::uint32_t m : {LButtonUp, RButtonUp, MButtonUp, MouseMove, KeyUp, Char}) {
      const int before = rig.shots;
      rig.input.Send(m, 'A');
      EXPECT_EQ(rig.shots, before) << std::hex << m;
    }
  }
}

TEST(InputWatch, NothingIsShotWhilePaused) {
  WatchRig rig;
  rig.settings.SetTakeShotOnClick(true);
  rig.settings.SetTakeShotOnKey(true);
  rig.settings.SetTakeShotOnPrintScreen(true);
  rig.settings.SetTakeShotOnWinEvent(true);
  rig.Start();
  rig.Pause();
  rig.input.Send(LButtonDown);
  rig.input.KeyDown(VK::Snapshot);
  rig.input.KeyUp('Q');
  rig.windowEvents.Send(WinEvents::ObjectCreate);
  rig.watch->DispatchInputTrigger(LButtonDown, 0);
  EXPECT_EQ(rig.shots, 0);
  EXPECT_FALSE(rig.timers.Running(kDelayedShotTimer));
}

TEST(InputWatch, TwoRightClicksMarkTheAreaWithSortedCorners) {
  WatchRig rig;
  rig.Start();
  rig.Pause();  // marking works paused too
  rig.watch->ArmMarking(false);
  rig.RightClickAt(1, 1);
  EXPECT_EQ(rig.watch->MarkStep(), 0) << "ArmMarking(false) does nothing";

  rig.watch->ArmMarking(true);
  EXPECT_EQ(rig.watch->MarkStep(), 1);
  rig.RightClickAt(500, 400);
  EXPECT_EQ(rig.watch->MarkStep(), 2);
  EXPECT_FALSE(rig.watch->HasMarkUserArea());
  rig.RightClickAt(100, 100);
  EXPECT_EQ(rig.watch->MarkStep(), 0);
  EXPECT_EQ(rig.watch->UserArea(), (Rect{100, 100, 500, 400}));
  EXPECT_TRUE(rig.settings.HasMarkUserArea());
  EXPECT_EQ(rig.poster.posted, (std::vector<std::uint32_t>{1030}));

  rig.RightClickAt(7, 7);
  EXPECT_EQ(rig.watch->UserArea(), (Rect{100, 100, 500, 400})) << "a third click marks nothing";
  EXPECT_EQ(rig.poster.Count(MainWindowMessages::UserAreaDefined), 1);
}

TEST(InputWatch, ReArmingRestartsAndSamePointGivesEmptyArea) {
  WatchRig rig;
  rig.Start();
  rig.watch->ArmMarking(true);
  rig.RightClickAt(900, 900);
  rig.watch->ArmMarking(true);
  EXPECT_EQ(rig.watch->MarkStep(), 1);
  rig.RightClickAt(30, 40);
  rig.RightClickAt(30, 40);
  EXPECT_EQ(rig.watch->UserArea(), (Rect{30, 40, 30, 40}));
}

TEST(InputWatch, MarkingClickAlsoCountsAsClickTrigger) {
  WatchRig rig;
  rig.settings.SetTakeShotOnClick(true);
  rig.Start();
  rig.watch->ArmMarking(true);
  rig.RightClickAt(10, 10);
  EXPECT_EQ(rig.shots, 1);
  EXPECT_EQ(rig.watch->MarkStep(), 2);
}

TEST(InputWatch, BurstOfWindowEventsGivesOneDelayedShot) {
  WatchRig rig;
  rig.settings.SetTakeShotOnWinEvent(true);
  rig.Start();
  for (int i = 0; i < 20; ++i) rig.windowEvents.Send(WinEvents::ObjectLocationChange);
  EXPECT_EQ(rig.timers.setCount[kDelayedShotTimer], 1);
  EXPECT_EQ(rig.timers.running.at(kDelayedShotTimer), 100);
  EXPECT_EQ(rig.shots, 0) << "the shot waits for the timer";
  rig.recorder->OnTimer(kDelayedShotTimer);
  EXPECT_EQ(rig.shots, 1);
  rig.windowEvents.Send(WinEvents::SystemForeground);
  EXPECT_EQ(rig.timers.setCount[kDelayedShotTimer], 2) << "after the shot a new burst schedules";
}

TEST(InputWatch, OnlyTheListedWindowEventsSchedule) {
  WatchRig rig;
  rig.settings.SetTakeShotOnWinEvent(true);
  rig.Start();
  for (std::uint32_t e : {0x0008u, 0x000Au, 0x000Cu, 0x000Du, 0x0012u, 0x0016u, 0x8008u, 0x8009u,
                          0x800Fu, 0x8012u, 0x0002u}) {
    rig.windowEvents.Send(e);
    EXPECT_FALSE(rig.timers.Running(kDelayedShotTimer)) << std::hex << e;
  }
  for (std::uint32_t e :
       {0x0003u, 0x0007u, 0x000Bu, 0x0011u, 0x0017u, 0x8000u, 0x8005u, 0x800Au, 0x800Eu}) {
    rig.windowEvents.Send(e);
    EXPECT_TRUE(rig.timers.Running(kDelayedShotTimer)) << std::hex << e;
    rig.recorder->OnTimer(kDelayedShotTimer);
  }
  rig.settings.SetTakeShotOnWinEvent(false);
  rig.windowEvents.Send(WinEvents::ObjectCreate);
  EXPECT_FALSE(rig.timers.Running(kDelayedShotTimer));
}

TEST(InputWatch, PauseCancelsADelayedShotFromAWindowEvent) {
  WatchRig rig;
  rig.settings.SetTakeShotOnWinEvent(true);
  rig.Start();
  rig.windowEvents.Send(WinEvents::ObjectShow);
  rig.Pause();
  EXPECT_FALSE(rig.timers.Running(kDelayedShotTimer));
  EXPECT_FALSE(rig.recorder->State().DelayedShotPending());
}

TEST(InputWatch, SchedulerReflectsTheRecorderTimers) {
  WatchRig rig;
  ShotScheduler& scheduler = *rig.watch;
  rig.settings.SetTakeShotOnTimer(true);
  EXPECT_FALSE(scheduler.PeriodicTimerRunning());
  rig.Pause();
  rig.recorder->TogglePause();
  EXPECT_TRUE(scheduler.PeriodicTimerRunning());
  scheduler.ScheduleDelayedShot(100);
  scheduler.ScheduleDelayedShot(300);
  EXPECT_EQ(rig.timers.setCount[kDelayedShotTimer], 1);
  EXPECT_EQ(rig.timers.running.at(kDelayedShotTimer), 100);
}

TEST(InputWatch, SystemModalBoxSuppressesClicksChordsAndMarking) {
  WatchRig rig;
  rig.settings.SetTakeShotOnClick(true);
  rig.Start();
  rig.watch->ArmMarking(true);
  rig.watch->SysModalChanged(true);
  EXPECT_TRUE(rig.watch->SysModalActive());
  rig.RightClickAt(5, 5);
  rig.input.Send(LButtonDown);
  rig.input.KeyDown(VK::Control);
  rig.input.KeyDown(VK::Shift);
  rig.input.KeyDown(VK::Cancel);
  EXPECT_EQ(rig.shots, 0);
  EXPECT_FALSE(rig.recorder->Paused());
  EXPECT_EQ(rig.watch->MarkStep(), 1);
  EXPECT_FALSE(rig.watch->CtrlDown());
  EXPECT_TRUE(rig.watch->JournalHookInstalled());

  rig.watch->SysModalChanged(false);
  rig.input.Send(LButtonDown);
  EXPECT_EQ(rig.shots, 1);
}

TEST(InputWatch, CtrlBreakRemovesBothSourcesAndPeriodicCaptureGoesOn) {
  WatchRig rig;
  rig.settings.SetTakeShotOnTimer(true);
  rig.Start();
  rig.Pause();
  rig.recorder->TogglePause();  // active, timer 2 running
  rig.input.KeyDown(VK::Control);
  rig.input.KeyDown(VK::Cancel);
  EXPECT_FALSE(rig.watch->JournalHookInstalled());
  EXPECT_FALSE(rig.watch->WinEventHookInstalled());
  EXPECT_EQ(rig.input.removeCalls, 1);
  EXPECT_EQ(rig.windowEvents.removeCalls, 1);
  EXPECT_TRUE(rig.boxes.shown.empty());

  // Events no longer arrive; a chord fed straight in would be the only way
  // to toggle, and the source delivers none.
  rig.input.KeyDown(VK::Shift);
  EXPECT_FALSE(rig.recorder->Paused());
  EXPECT_TRUE(rig.timers.Running(kPeriodicShotTimer));
  rig.recorder->OnTimer(kPeriodicShotTimer);
  EXPECT_EQ(rig.shots, 1);
}

TEST(InputWatch, CtrlBreakWorksWhilePaused) {
  WatchRig rig;
  rig.Start();
  rig.Pause();
  rig.input.KeyDown(VK::Cancel);
  EXPECT_FALSE(rig.watch->JournalHookInstalled());
}

TEST(InputWatch, LostSourceIsReportedOnce) {
  WatchRig rig;
  rig.Start();
  SetLastError(32);
  rig.watch->InputSourceLost();
  rig.watch->InputSourceLost();
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
  EXPECT_EQ(rig.boxes.shown[0].text, "StopHook failed: GetLastError returned 20\n");
  EXPECT_TRUE(rig.recorder->Paused());
  EXPECT_FALSE(rig.watch->JournalHookInstalled());
  EXPECT_TRUE(rig.watch->StartHook()) << "the watch can be installed again";
  EXPECT_EQ(rig.input.installCalls, 2);
}

}  // namespace
}  // namespace framory
