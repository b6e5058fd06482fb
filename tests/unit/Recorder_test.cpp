// Recorder control against recording fakes: the order of the pause toggle's
// side effects, the timers, the saved pointer, the options view and the error
// channel.
#include "app/Recorder.h"

#include <gtest/gtest.h>

#include <string>

#include "support/RecorderFakes.h"

namespace framory {
namespace {

using testing::CallLog;

struct RecorderRig {
  RecorderRig() : timers(&log), boxes(&log), pointer(&log), view(&log), encoder(&log) {
    tray.SetChangeHandler(
        [this] { log.push_back("Tray " + std::to_string(tray.IconId()) + " " + tray.Tip()); });
  }
  Recorder Make(bool withView = false, bool withEncoder = false) {
    Recorder::Services s =
        testing::RecorderServices(timers, tray, boxes, pointer, lastError, [this] {
          ++shots;
          log.push_back("TakeShot");
        });
    if (withView) s.View = &view;
    if (withEncoder) s.Encoder = &encoder;
    return Recorder(settings, s);
  }
  CallLog log;
  Settings settings;
  testing::FakeTimers timers;
  TrayState tray;
  testing::FakeBoxes boxes;
  testing::FakePointer pointer;
  testing::FakeLastError lastError;
  testing::FakeView view;
  testing::FakeEncoder encoder;
  int shots = 0;
};

TEST(Recorder, StartsActiveWithEveryFlagAtItsInitialValue) {
  RecorderRig rig;
  Recorder recorder = rig.Make();
  const RecorderState& s = recorder.State();
  EXPECT_FALSE(s.Paused());
  EXPECT_FALSE(s.MousePosSaved());
  EXPECT_EQ(s.SavedMousePos(), (Point{0, 0}));
  EXPECT_FALSE(s.DelayedShotPending());
  EXPECT_FALSE(s.PeriodicTimerRunning());
  EXPECT_FALSE(s.TrayIconAdded());
  EXPECT_FALSE(s.ProjectReady());
  EXPECT_FALSE(s.QuitRequested());
  EXPECT_TRUE(s.FirstView());
}

TEST(Recorder, PauseAppliesSideEffectsInOrder) {
  RecorderRig rig;
  Recorder recorder = rig.Make(true, true);
  recorder.State().SetDelayedShotPending(true);
  recorder.State().SetPeriodicTimerRunning(true);
  rig.pointer.pos = {321, 654};

  recorder.TogglePause();

  EXPECT_TRUE(recorder.Paused());
  const CallLog expected = {"RefreshTitle", "PauseEncoding", "CursorPos",
                            "KillTimer 1",  "KillTimer 2",   "Tray 129 Framory Recording Paused"};
  EXPECT_EQ(rig.log, expected);
  EXPECT_TRUE(recorder.State().MousePosSaved());
  EXPECT_EQ(recorder.State().SavedMousePos(), (Point{321, 654}));
  EXPECT_FALSE(recorder.State().DelayedShotPending());
  EXPECT_FALSE(recorder.State().PeriodicTimerRunning());
}

TEST(Recorder, ResumeAppliesSideEffectsInOrder) {
  RecorderRig rig;
  rig.settings.SetTakeShotOnTimer(true);
  rig.settings.SetTimerValue(250);
  Recorder recorder = rig.Make(true, true);
  recorder.TogglePause();
  rig.log.clear();

  recorder.TogglePause();

  EXPECT_FALSE(recorder.Paused());
  const CallLog expected = {"RefreshTitle", "StartEncoding", "SetCursorPos", "SetTimer 2 250",
                            "Tray 107 Framory Recording"};
  EXPECT_EQ(rig.log, expected);
  EXPECT_TRUE(recorder.State().PeriodicTimerRunning());
}

TEST(Recorder, NoEncoderCallsWithoutSessionAndNoTimerWithoutTimerTrigger) {
  RecorderRig rig;
  rig.encoder.exists = false;
  Recorder recorder = rig.Make(false, true);
  recorder.TogglePause();
  recorder.TogglePause();
  for (const std::string& call : rig.log) {
    EXPECT_NE(call, "PauseEncoding");
    EXPECT_NE(call, "StartEncoding");
    EXPECT_EQ(call.rfind("SetTimer", 0), std::string::npos) << call;
  }
  EXPECT_FALSE(recorder.State().PeriodicTimerRunning());
  // The clip still hears of both: a clip timed by the clock leaves the
  // paused time out.
  EXPECT_EQ(rig.encoder.pauseChanges, (std::vector<bool>{true, false}));
}

TEST(Recorder, PeriodIsTakenAtResume) {
  RecorderRig rig;
  rig.settings.SetTakeShotOnTimer(true);
  rig.settings.SetTimerValue(100);
  Recorder recorder = rig.Make();
  recorder.TogglePause();
  recorder.TogglePause();
  EXPECT_EQ(rig.timers.running.at(kPeriodicShotTimer), 100);

  rig.settings.SetTimerValue(40);
  EXPECT_EQ(rig.timers.running.at(kPeriodicShotTimer), 100)
      << "changing TimerValue while active must not touch the running timer";
  EXPECT_EQ(rig.timers.setCount[kPeriodicShotTimer], 1);

  recorder.TogglePause();
  EXPECT_FALSE(rig.timers.Running(kPeriodicShotTimer));
  recorder.TogglePause();
  EXPECT_EQ(rig.timers.running.at(kPeriodicShotTimer), 40);
}

TEST(Recorder, RunningPeriodicTimerIsNotStartedTwice) {
  RecorderRig rig;
  rig.settings.SetTakeShotOnTimer(true);
  Recorder recorder = rig.Make();
  recorder.TogglePause();
  // A timer that could not be killed keeps its flag; the resume leaves it.
  recorder.State().SetPeriodicTimerRunning(true);
  recorder.TogglePause();
  EXPECT_EQ(rig.timers.setCount[kPeriodicShotTimer], 0);
}

TEST(Recorder, PauseCancelsPendingDelayedShot) {
  RecorderRig rig;
  Recorder recorder = rig.Make();
  rig.timers.SetTimer(kDelayedShotTimer, 100);
  recorder.State().SetDelayedShotPending(true);
  recorder.TogglePause();
  EXPECT_FALSE(rig.timers.Running(kDelayedShotTimer));
  EXPECT_FALSE(recorder.State().DelayedShotPending());
  EXPECT_EQ(rig.shots, 0);
}

TEST(Recorder, RestoreMouseJumpsToTheLatestPausePoint) {
  RecorderRig rig;
  rig.settings.SetRestoreMouse(true);
  Recorder recorder = rig.Make();
  rig.pointer.pos = {10, 20};
  recorder.TogglePause();
  rig.pointer.pos = {500, 600};
  recorder.TogglePause();
  EXPECT_EQ(rig.pointer.pos, (Point{10, 20})) << "resume must move the pointer back";
  EXPECT_TRUE(recorder.State().MousePosSaved()) << "the saved position stays valid";

  rig.pointer.pos = {70, 80};
  recorder.TogglePause();
  rig.pointer.pos = {1, 1};
  recorder.TogglePause();
  EXPECT_EQ(rig.pointer.pos, (Point{70, 80})) << "the second resume uses the newer point";
}

TEST(Recorder, NoJumpWhenRestoreMouseIsOffOrThePositionWasCleared) {
  RecorderRig rig;
  rig.settings.SetRestoreMouse(false);
  Recorder recorder = rig.Make();
  recorder.TogglePause();
  recorder.TogglePause();
  EXPECT_TRUE(rig.pointer.moves.empty());

  rig.settings.SetRestoreMouse(true);
  recorder.TogglePause();
  recorder.State().ClearMousePosSaved();  // as ending a clip does
  recorder.TogglePause();
  EXPECT_TRUE(rig.pointer.moves.empty());
}

TEST(Recorder, AnyTriggerEnabledCountsClickWinEventKeyAndTimerOnly) {
  RecorderRig rig;
  Recorder recorder = rig.Make();
  rig.settings.SetTakeShotOnKey(false);
  rig.settings.SetTakeShotOnPrintScreen(true);
  rig.settings.SetTakeShotOnAuto(true);
  EXPECT_FALSE(recorder.AnyTriggerEnabled());
  void (Settings::*setters[])(bool) = {&Settings::SetTakeShotOnClick,
                                       &Settings::SetTakeShotOnWinEvent,
                                       &Settings::SetTakeShotOnKey, &Settings::SetTakeShotOnTimer};
  for (auto setter : setters) {
    (rig.settings.*setter)(true);
    EXPECT_TRUE(recorder.AnyTriggerEnabled());
    (rig.settings.*setter)(false);
  }
}

TEST(Recorder, OpeningTheViewPausesWhenAutomaticTriggersAreOnAndExplainsOnce) {
  RecorderRig rig;
  rig.settings.SetTakeShotOnClick(true);
  Recorder recorder = rig.Make(true);

  EXPECT_TRUE(recorder.ToggleMainView());
  EXPECT_TRUE(recorder.Paused());
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
  EXPECT_EQ(rig.boxes.shown[0].caption, "Framory Pausing...");
  EXPECT_EQ(rig.boxes.shown[0].text, kFirstViewText);
  EXPECT_EQ(rig.boxes.shown[0].flags, MessageBoxFlags::IconInformation);
  EXPECT_NE(rig.boxes.shown[0].text.find("\n\nHold down Ctrl and press Shift"), std::string::npos);
  EXPECT_FALSE(recorder.State().FirstView());
  // The recorder pauses before the view is made, and the view exists before
  // the explanation comes up.
  const CallLog tail(rig.log.end() - 3, rig.log.end());
  EXPECT_EQ(tail,
            (CallLog{"Tray 129 Framory Recording Paused", "Create", "Box Framory Pausing..."}));

  recorder.ToggleMainView();  // in front: closes
  EXPECT_FALSE(rig.view.shown);
  EXPECT_TRUE(recorder.Paused()) << "closing the view keeps the pause state";
  recorder.TogglePause();
  recorder.ToggleMainView();
  EXPECT_EQ(rig.boxes.shown.size(), 1u) << "the explanation comes only at the first showing";
}

TEST(Recorder, OpeningTheViewWithOnlyPrintScreenLeavesTheRecorderActive) {
  RecorderRig rig;
  rig.settings.SetTakeShotOnKey(false);
  rig.settings.SetTakeShotOnPrintScreen(true);
  Recorder recorder = rig.Make(true);
  recorder.ToggleMainView();
  EXPECT_FALSE(recorder.Paused());
  EXPECT_TRUE(rig.view.shown);
}

TEST(Recorder, ViewBehindAnotherWindowIsBroughtForwardElseClosed) {
  RecorderRig rig;
  Recorder recorder = rig.Make(true);
  rig.view.shown = true;
  rig.view.foreground = false;
  recorder.ToggleMainView();
  EXPECT_TRUE(rig.view.shown);
  EXPECT_TRUE(rig.view.foreground);

  rig.view.foreground = false;
  rig.view.bringToFrontWorks = false;
  rig.log.clear();
  recorder.ToggleMainView();
  EXPECT_EQ(rig.log, (CallLog{"ShowAndBringToFront", "Destroy"}));
  EXPECT_FALSE(rig.view.shown);
}

TEST(Recorder, ErrorWhileActivePausesThenShowsWarning) {
  RecorderRig rig;
  Recorder recorder = rig.Make();
  rig.boxes.result = MessageBoxResults::Ok;
  EXPECT_EQ(recorder.ReportErrorAndPause("Unable to %s %d.", "append frame", 7),
            MessageBoxResults::Ok);
  EXPECT_TRUE(recorder.Paused());
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
  EXPECT_EQ(rig.boxes.shown[0].text, "Unable to append frame 7.");
  EXPECT_EQ(rig.boxes.shown[0].caption, "Error - Recorder will go in pause mode");
  EXPECT_EQ(rig.boxes.shown[0].flags, 0x30u);
  EXPECT_EQ(rig.log.back(), "Box Error - Recorder will go in pause mode")
      << "the pause comes before the box";
  EXPECT_EQ(rig.log.end()[-2], "Tray 129 Framory Recording Paused");
}

TEST(Recorder, ErrorWhilePausedShowsTheBoxWithoutToggling) {
  RecorderRig rig;
  Recorder recorder = rig.Make();
  recorder.TogglePause();
  recorder.ReportErrorAndPause("x");
  EXPECT_TRUE(recorder.Paused());
  EXPECT_EQ(rig.boxes.shown.size(), 1u);
}

TEST(Recorder, ErrorTextIsCutAt499Characters) {
  RecorderRig rig;
  Recorder recorder = rig.Make();
  const std::string longText(800, 'a');
  recorder.ReportErrorAndPause("%s", longText.c_str());
  EXPECT_EQ(rig.boxes.shown.at(0).text, std::string(499, 'a'));
}

TEST(Recorder, ApiFailureNamesTheCallAndTheCodeInUpperCaseHex) {
  RecorderRig rig;
  Recorder recorder = rig.Make();
  rig.lastError.code = 5;
  recorder.ReportApiFailure("StartHook");
  rig.lastError.code = 0x8007001F;
  recorder.ReportApiFailure("StopHook");
  rig.lastError.code = 0x1a;
  recorder.ReportApiFailure("StopHook");
  ASSERT_EQ(rig.boxes.shown.size(), 3u);
  EXPECT_EQ(rig.boxes.shown[0].text, "StartHook failed: GetLastError returned 5\n");
  EXPECT_EQ(rig.boxes.shown[1].text, "StopHook failed: GetLastError returned 8007001F\n");
  EXPECT_EQ(rig.boxes.shown[2].text, "StopHook failed: GetLastError returned 1A\n");
  EXPECT_TRUE(recorder.Paused());
}

TEST(Recorder, WriterFailurePathTogglesOnceAndEndsPaused) {
  RecorderRig rig;
  Recorder recorder = rig.Make();
  recorder.TogglePause();
  recorder.ReportApiFailure("Unable to create bitmap.");
  EXPECT_TRUE(recorder.Paused());
  EXPECT_EQ(rig.boxes.shown.at(0).text,
            "Unable to create bitmap. failed: GetLastError returned 0\n");
}

TEST(Recorder, TimerExpiry) {
  RecorderRig rig;
  Recorder recorder = rig.Make();
  rig.timers.SetTimer(kDelayedShotTimer, 100);
  recorder.State().SetDelayedShotPending(true);
  EXPECT_TRUE(recorder.OnTimer(kDelayedShotTimer));
  EXPECT_FALSE(rig.timers.Running(kDelayedShotTimer));
  EXPECT_FALSE(recorder.State().DelayedShotPending());
  EXPECT_EQ(rig.shots, 1);

  rig.timers.SetTimer(kPeriodicShotTimer, 100);
  EXPECT_TRUE(recorder.OnTimer(kPeriodicShotTimer));
  EXPECT_TRUE(recorder.OnTimer(kPeriodicShotTimer));
  EXPECT_TRUE(rig.timers.Running(kPeriodicShotTimer)) << "the periodic timer keeps running";
  EXPECT_EQ(rig.shots, 3);

  EXPECT_FALSE(recorder.OnTimer(3));
  EXPECT_EQ(rig.shots, 3);
}

TEST(Recorder, TrayTipIsCutTo63Characters) {
  TrayState tray;
  tray.Modify(kPausedIcon, std::string(100, 't'));
  EXPECT_EQ(tray.Tip().size(), 63u);
  EXPECT_EQ(tray.IconId(), kPausedIcon);
}

}  // namespace
}  // namespace framory
