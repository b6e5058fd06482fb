// The options view's commands carried out against the real recorder and
// settings: which choices pause before the clip ends, how the triggers follow
// the output family, the pause alignment, leaving the view, the new-clip and
// view-last-result steps, and the focus choice with its area question.
#include "app/RecorderCommands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <variant>

#include "support/RecorderFakes.h"

namespace framory {
namespace {

using testing::CallLog;
using namespace MessageBoxFlags;

constexpr const char* kPause = "Tray 129 Framory Recording Paused";
constexpr const char* kResume = "Tray 107 Framory Recording";

// The real recorder behind the commands; the clip, the resized-window memory
// and the marking gesture are recorded. Ending the clip clears the saved
// pointer position, as the clip session does through the recorder.
class RecorderHost : public CommandHost {
 public:
  RecorderHost(Recorder& recorder, const Settings& settings, CallLog& log)
      : recorder_(recorder), settings_(settings), log_(log) {}
  bool Paused() const override { return recorder_.Paused(); }
  void TogglePause() override { recorder_.TogglePause(); }
  bool AnyTriggerEnabled() const override { return recorder_.AnyTriggerEnabled(); }
  void ClearMousePosSaved() override { recorder_.State().ClearMousePosSaved(); }
  bool ClipOpen() const override { return clipOpen; }
  void EndClip() override {
    // The type the clip is finished as.
    log_.push_back("EndClip " + std::to_string(settings_.OutputType()));
    clipOpen = false;
    recorder_.State().ClearMousePosSaved();
  }
  void ForgetResizedWindow() override { log_.push_back("Forget"); }
  void ArmMarking(bool arm) override { log_.push_back(arm ? "Arm" : "Disarm"); }

  bool clipOpen = false;

 private:
  Recorder& recorder_;
  const Settings& settings_;
  CallLog& log_;
};

class RecorderCommandsTest : public ::testing::Test {
 protected:
  RecorderCommandsTest()
      : boxes(&log),
        recorder(settings, testing::RecorderServices(timers, tray, boxes, pointer, lastError, {})),
        host(recorder, settings, log),
        commands(settings, host, boxes) {
    tray.SetChangeHandler(
        [this] { log.push_back("Tray " + std::to_string(tray.IconId()) + " " + tray.Tip()); });
  }

  // Only the given automatic triggers on (Ctrl-Print Screen off).
  void Triggers(bool click, bool winEvent, bool key, bool timer) {
    settings.SetTakeShotOnClick(click);
    settings.SetTakeShotOnWinEvent(winEvent);
    settings.SetTakeShotOnKey(key);
    settings.SetTakeShotOnTimer(timer);
    settings.SetTakeShotOnPrintScreen(false);
  }
  void Pause() {
    if (!recorder.Paused()) recorder.TogglePause();
    log.clear();
  }
  int Count(const std::string& entry) const {
    return static_cast<int>(std::count(log.begin(), log.end(), entry));
  }
  // Position of the first `entry` in the log; -1 when absent.
  int At(const std::string& entry) const {
    const auto it = std::find(log.begin(), log.end(), entry);
    return it == log.end() ? -1 : static_cast<int>(it - log.begin());
  }

  CallLog log;
  Settings settings;
  testing::FakeTimers timers;
  TrayState tray;
  testing::FakeBoxes boxes;
  testing::FakePointer pointer;
  testing::FakeLastError lastError;
  Recorder recorder;
  RecorderHost host;
  RecorderCommands commands;
};

TEST_F(RecorderCommandsTest, RecordMovieWhileRecordingPausesEndsTheClipAndSetsTheTimer) {
  settings.SetOutputType(OutputTypes::Jpg);
  Triggers(false, false, /*key=*/true, false);
  settings.SetTakeShotOnPrintScreen(true);
  host.clipOpen = true;

  const CommandResult result = commands.Apply(Commands::ChooseOutputFamily{OutputChoice::Movie});

  EXPECT_TRUE(recorder.Paused()) << "left paused for the user's start";
  ASSERT_GE(At(kPause), 0);
  ASSERT_GE(At("EndClip 1"), 0) << "the clip ends as the type it was recorded in";
  EXPECT_LT(At(kPause), At("EndClip 1")) << "paused before the clip ends";
  EXPECT_EQ(Count("Forget"), 1);
  EXPECT_EQ(settings.OutputType(), DefaultMovieOutputType);
  EXPECT_TRUE(settings.TakeShotOnTimer());
  EXPECT_FALSE(settings.TakeShotOnPrintScreen());
  EXPECT_TRUE(settings.TakeShotOnKey()) << "the other triggers keep their values";
  EXPECT_FALSE(timers.Running(kPeriodicShotTimer)) << "no frames before the user starts";
  EXPECT_TRUE(result.Refill);
  EXPECT_TRUE(result.RefreshTitle);
  EXPECT_TRUE(boxes.shown.empty());

  // Already paused: no second toggle, which would start recording.
  log.clear();
  commands.Apply(Commands::ChooseOutputFamily{OutputChoice::Movie});
  EXPECT_TRUE(recorder.Paused());
  EXPECT_EQ(Count(kPause) + Count(kResume), 0);
}

TEST_F(RecorderCommandsTest, BroadcastPausesEndsTheClipAndThenShowsTheInstructions) {
  settings.SetOutputType(DefaultMovieOutputType);
  Triggers(false, false, false, false);
  settings.SetTakeShotOnPrintScreen(true);
  host.clipOpen = true;

  const CommandResult result =
      commands.Apply(Commands::ChooseOutputFamily{OutputChoice::Broadcast});

  EXPECT_TRUE(recorder.Paused()) << "paused even with no automatic trigger on";
  ASSERT_GE(At("EndClip 16"), 0);
  EXPECT_LT(At(kPause), At("EndClip 16"));
  EXPECT_EQ(settings.OutputType(), BroadcastOutputType);
  EXPECT_TRUE(settings.TakeShotOnTimer());
  EXPECT_FALSE(settings.TakeShotOnPrintScreen());
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_GT(At("Box Instructions"), At("EndClip 16"));
  EXPECT_EQ(boxes.shown[0].flags, IconInformation | SystemModal);
  const std::string& text = boxes.shown[0].text;
  EXPECT_EQ(text.rfind("Once you press Ctrl and then Shift to start recording, clients over a\n"
                       "network will be able to receive the broadcast by starting VLC, mpv or any "
                       "player that reads a network stream\nand opening the following url from "
                       "it: ",
                       0),
            0u);
  EXPECT_NE(text.find(":8080. \nYou can run ip addr in a terminal to obtain your IP address or "
                      "use the machine name."),
            std::string::npos);
  EXPECT_TRUE(result.Refill);
}

TEST_F(RecorderCommandsTest, CaptureBitmapsPausesOnlyWhenATriggerIsOnAndRecording) {
  // Only Ctrl-Print Screen: the recorder is not touched.
  settings.SetOutputType(DefaultMovieOutputType);
  Triggers(false, false, false, false);
  host.clipOpen = true;
  commands.Apply(Commands::ChooseOutputFamily{OutputChoice::Pictures});
  EXPECT_FALSE(recorder.Paused());
  EXPECT_EQ(Count(kPause) + Count(kResume), 0);
  EXPECT_EQ(Count("EndClip 16"), 1);
  EXPECT_EQ(Count("Forget"), 1);
  EXPECT_EQ(settings.OutputType(), OutputTypes::Png);
  EXPECT_TRUE(settings.TakeShotOnPrintScreen());
  EXPECT_FALSE(settings.TakeShotOnTimer());

  // Mouse Click on while recording: paused before the clip ends, and stays
  // paused since the trigger is still on.
  settings.SetOutputType(DefaultMovieOutputType);
  Triggers(/*click=*/true, false, false, false);
  log.clear();
  commands.Apply(Commands::ChooseOutputFamily{OutputChoice::Pictures});
  EXPECT_TRUE(recorder.Paused());
  EXPECT_LT(At(kPause), At("EndClip 16"));
  EXPECT_EQ(Count(kResume), 0);

  // Only the timer on while recording: the clip ends paused, the timer goes
  // off with the movie family, and with nothing automatic left the recorder
  // runs again, without a periodic timer.
  recorder.TogglePause();
  Triggers(false, false, false, /*timer=*/true);
  settings.SetOutputType(DefaultMovieOutputType);
  log.clear();
  commands.Apply(Commands::ChooseOutputFamily{OutputChoice::Pictures});
  EXPECT_FALSE(recorder.Paused());
  EXPECT_LT(At(kPause), At("EndClip 16"));
  EXPECT_GT(At(kResume), At("EndClip 16"));
  EXPECT_FALSE(timers.Running(kPeriodicShotTimer));

  // Paused with only the timer on: no pause step, then the alignment resumes.
  Pause();
  Triggers(false, false, false, true);
  commands.Apply(Commands::ChooseOutputFamily{OutputChoice::Pictures});
  EXPECT_FALSE(recorder.Paused());
  EXPECT_EQ(Count(kPause), 0);
  EXPECT_EQ(Count(kResume), 1);
}

TEST_F(RecorderCommandsTest, TriggerSwitchesAlignThePauseWithTheAutomaticTriggers) {
  settings.SetOutputType(OutputTypes::Png);
  Triggers(/*click=*/true, false, false, false);
  Pause();
  commands.Apply(Commands::SwitchTrigger{Trigger::Click});
  EXPECT_FALSE(settings.TakeShotOnClick());
  EXPECT_FALSE(recorder.Paused()) << "last automatic trigger off while paused: active at once";

  commands.Apply(Commands::SwitchTrigger{Trigger::Key});
  EXPECT_TRUE(settings.TakeShotOnKey());
  EXPECT_TRUE(recorder.Paused()) << "an automatic trigger on while active: paused";

  // Switching the timer on while paused starts no timer: the user starts.
  commands.Apply(Commands::SwitchTrigger{Trigger::Timer});
  EXPECT_TRUE(recorder.Paused());
  EXPECT_FALSE(timers.Running(kPeriodicShotTimer));

  // Ctrl-Print Screen is not an automatic trigger.
  Triggers(false, false, false, false);
  recorder.TogglePause();
  log.clear();
  commands.Apply(Commands::SwitchTrigger{Trigger::PrintScreen});
  EXPECT_TRUE(settings.TakeShotOnPrintScreen());
  EXPECT_FALSE(recorder.Paused());
  EXPECT_EQ(Count(kPause) + Count(kResume), 0);

  // Recording started by the chord with the timer on: switching the timer
  // off leaves it recording; the alignment only pauses for a trigger.
  Triggers(false, false, false, true);
  commands.Apply(Commands::SwitchTrigger{Trigger::Timer});
  EXPECT_FALSE(recorder.Paused());
  EXPECT_EQ(Count(kPause) + Count(kResume), 0);
}

TEST_F(RecorderCommandsTest, LeavingTheViewResumesOnlyWithoutAutomaticTriggers) {
  Triggers(false, false, false, false);
  Pause();
  commands.Apply(Commands::LeaveView{});
  EXPECT_FALSE(recorder.Paused()) << "nothing would start it but the chord";

  commands.Apply(Commands::LeaveView{});
  EXPECT_FALSE(recorder.Paused()) << "active stays active";

  Triggers(false, false, /*key=*/true, false);
  Pause();
  commands.Apply(Commands::LeaveView{});
  EXPECT_TRUE(recorder.Paused()) << "an automatic trigger waits for the user's start";
  EXPECT_TRUE(log.empty());
}

TEST_F(RecorderCommandsTest, NewClipAsksNothingWithoutAClipAndEndsAnOpenOnePaused) {
  CommandResult result = commands.Apply(Commands::NewClip{});
  EXPECT_TRUE(log.empty()) << "no clip: no pause, no end, no box";
  EXPECT_TRUE(result.RefreshTitle);

  // With a clip open while recording: pause, end, then the box. Ending it
  // after the pause forgets the pointer saved there, so the resume that
  // starts the new clip leaves the pointer where the user has it.
  settings.SetRestoreMouse(true);
  pointer.pos = {10, 20};
  host.clipOpen = true;
  commands.Apply(Commands::NewClip{});
  EXPECT_TRUE(recorder.Paused());
  ASSERT_GE(At("EndClip 0"), 0);
  EXPECT_LT(At(kPause), At("EndClip 0"));
  EXPECT_LT(At("EndClip 0"), At("Box Starting New Movie Clip"));
  EXPECT_EQ(Count("Forget"), 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "When Recording Resumes a New Movie Clip Will be Recorded.");
  EXPECT_EQ(boxes.shown[0].flags, IconInformation | SystemModal);
  pointer.pos = {500, 600};
  recorder.TogglePause();
  EXPECT_TRUE(pointer.moves.empty());
}

TEST_F(RecorderCommandsTest, EndingTheClipToViewItAsksAndAcceptsNo) {
  host.clipOpen = true;
  boxes.result = MessageBoxResults::No;
  CommandResult result = commands.Apply(Commands::EndClipToView{});
  EXPECT_TRUE(result.Declined);
  EXPECT_FALSE(result.RefreshTitle) << "No changes nothing, not even the title";
  EXPECT_TRUE(host.clipOpen);
  EXPECT_FALSE(recorder.Paused());
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, "Busy Recording to Movie Clip");
  EXPECT_EQ(boxes.shown[0].flags, YesNo | IconInformation | SystemModal);

  boxes.result = MessageBoxResults::Yes;
  result = commands.Apply(Commands::EndClipToView{});
  EXPECT_FALSE(result.Declined);
  EXPECT_TRUE(result.RefreshTitle);
  EXPECT_FALSE(host.clipOpen);
  EXPECT_TRUE(recorder.Paused());
  EXPECT_LT(At(kPause), At("EndClip 0"));

  // No clip: no question.
  result = commands.Apply(Commands::EndClipToView{});
  EXPECT_EQ(boxes.shown.size(), 2u);
  EXPECT_FALSE(result.Declined);
}

TEST_F(RecorderCommandsTest, FocusChoicesWriteTheFlagsTheTargetReadsBack) {
  commands.Apply(Commands::ChooseFocus{CaptureFocus::InnerWindow});
  EXPECT_TRUE(settings.UseForegrounWindow());
  EXPECT_TRUE(settings.UseForegrounWindowInside());
  EXPECT_FALSE(settings.UseMainAppWindow()) << "the default Main Window is cleared";
  EXPECT_FALSE(settings.UseDesktopWindow());
  EXPECT_FALSE(settings.UseArea());
  EXPECT_EQ(CaptureFocusOf(settings), CaptureFocus::InnerWindow);

  commands.Apply(Commands::ChooseFocus{CaptureFocus::ForegroundWindow});
  EXPECT_FALSE(settings.UseForegrounWindowInside()) << "the inner choice does not linger";
  for (CaptureFocus focus :
       {CaptureFocus::Desktop, CaptureFocus::MainWindow, CaptureFocus::ForegroundWindow,
        CaptureFocus::InnerWindow, CaptureFocus::Area}) {
    SetCaptureFocus(settings, focus);
    EXPECT_EQ(CaptureFocusOf(settings), focus) << static_cast<int>(focus);
  }
  EXPECT_TRUE(boxes.shown.empty()) << "only Area asks";
  EXPECT_TRUE(log.empty()) << "a focus choice leaves recorder and clip alone";

  // Stores edited by hand: the choice that wins in the capture.
  Settings odd;
  odd.SetUseMainAppWindow(false);
  odd.SetUseForegrounWindowInside(true);
  EXPECT_EQ(CaptureFocusOf(odd), CaptureFocus::Desktop) << "inside alone selects nothing";
  odd.SetUseMainAppWindow(true);
  EXPECT_EQ(CaptureFocusOf(odd), CaptureFocus::InnerWindow);
  odd.SetUseArea(true);
  EXPECT_EQ(CaptureFocusOf(odd), CaptureFocus::Area);
  odd.SetUseDesktopWindow(true);
  EXPECT_EQ(CaptureFocusOf(odd), CaptureFocus::Desktop);
}

TEST_F(RecorderCommandsTest, AreaAsksToMarkAndArmsOnlyOnYes) {
  CommandResult result = commands.Apply(Commands::ChooseFocus{CaptureFocus::Area});
  EXPECT_TRUE(settings.UseArea());
  EXPECT_FALSE(settings.UseMainAppWindow());
  EXPECT_TRUE(boxes.shown.empty()) << "the view shows the choice before the question";
  ASSERT_TRUE(result.Then.has_value());
  ASSERT_TRUE(std::holds_alternative<Commands::OfferAreaMarking>(*result.Then));

  boxes.result = MessageBoxResults::No;
  result = commands.Apply(*result.Then);
  EXPECT_TRUE(result.Declined);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, "Record User Specified Desktop Area");
  EXPECT_EQ(boxes.shown[0].flags, YesNo | IconQuestion | SystemModal);
  EXPECT_EQ(Count("Arm"), 0);

  boxes.result = MessageBoxResults::Yes;
  commands.Apply(Commands::OfferAreaMarking{});
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[2].caption, "How To Set User Specified Desktop Area");
  EXPECT_EQ(boxes.shown[2].flags, IconInformation | SystemModal);
  EXPECT_LT(At("Box How To Set User Specified Desktop Area"), At("Arm"))
      << "the clicks that close the box must not mark a corner";
  EXPECT_TRUE(settings.UseArea());
}

TEST_F(RecorderCommandsTest, RestoreMouseSwitchForgetsThePositionOfTheLastPause) {
  settings.SetRestoreMouse(true);
  pointer.pos = {10, 20};
  Pause();
  commands.Apply(Commands::SwitchOption{Option::RestoreMouse});
  EXPECT_FALSE(settings.RestoreMouse());
  commands.Apply(Commands::SwitchOption{Option::RestoreMouse});
  EXPECT_TRUE(settings.RestoreMouse());
  pointer.pos = {300, 400};
  recorder.TogglePause();
  EXPECT_TRUE(pointer.moves.empty()) << "a position saved before the change is not restored";
  EXPECT_FALSE(recorder.Paused());
}

TEST_F(RecorderCommandsTest, FirstShowingImposesTheTriggersOfTheFamily) {
  for (std::int32_t type : {DefaultMovieOutputType, OutputTypes::AviMpg4, BroadcastOutputType,
                            OutputTypes::Bmp, OutputTypes::Png}) {
    settings.SetOutputType(type);
    Triggers(true, true, true, true);
    settings.SetTakeShotOnPrintScreen(true);
    settings.SetTakeShotOnAuto(true);
    commands.Apply(Commands::ImposeFamilyTriggers{});
    const bool movie = type >= FirstMovieOutputType;
    EXPECT_EQ(settings.TakeShotOnTimer(), movie) << type;
    EXPECT_EQ(settings.TakeShotOnPrintScreen(), !movie) << type;
    EXPECT_FALSE(settings.TakeShotOnClick()) << type;
    EXPECT_FALSE(settings.TakeShotOnWinEvent()) << type;
    EXPECT_FALSE(settings.TakeShotOnKey()) << type;
    EXPECT_TRUE(settings.TakeShotOnAuto()) << type << ": no view shows it";
  }
}

}  // namespace
}  // namespace framory

namespace framory {
namespace {

// The choice below the broadcast instructions: a mistyped address is refused
// with a box that does not repeat the key and changes nothing; a good one
// makes the broadcast go to the server, starting afresh; the family button
// keeps a server broadcast a server broadcast.
TEST_F(RecorderCommandsTest, BroadcastTargetsCheckTheAddressAndKeepTheKeyOutOfTheBox) {
  settings.SetOutputType(BroadcastOutputType);
  settings.SetTakeShotOnTimer(true);
  host.clipOpen = true;
  if (recorder.Paused()) recorder.TogglePause();
  log.clear();

  CommandResult result = commands.Apply(Commands::ChooseBroadcastTarget{
      .ToServer = true, .Address = "rtmp://live.example/app/my S3CRETKEY", .Remember = true});
  EXPECT_TRUE(result.Declined);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text.find("S3CRETKEY"), std::string::npos) << boxes.shown[0].text;
  EXPECT_NE(boxes.shown[0].text.find("rtmp://live.example/"), std::string::npos);
  EXPECT_EQ(settings.OutputType(), BroadcastOutputType) << "nothing changed";
  EXPECT_TRUE(settings.StreamServerAddress().empty());
  EXPECT_FALSE(recorder.Paused());
  EXPECT_EQ(At("EndClip 30"), -1);

  result = commands.Apply(Commands::ChooseBroadcastTarget{
      .ToServer = true, .Address = "rtmp://live.example/app/S3CRETKEY", .Remember = true});
  EXPECT_FALSE(result.Declined);
  EXPECT_EQ(settings.OutputType(), OutputTypes::StreamServer);
  EXPECT_EQ(settings.StreamServerAddress(), "rtmp://live.example/app/S3CRETKEY");
  EXPECT_TRUE(settings.RememberStreamServerAddress());
  EXPECT_TRUE(recorder.Paused()) << "the new broadcast starts with the user's Ctrl+Shift";
  EXPECT_LT(At(kPause), At("EndClip 30")) << "the old broadcast ends, paused first";
  EXPECT_EQ(OutputChoiceOf(settings.OutputType()), OutputChoice::Broadcast);

  boxes.shown.clear();
  commands.Apply(Commands::ChooseOutputFamily{OutputChoice::Broadcast});
  EXPECT_EQ(settings.OutputType(), OutputTypes::StreamServer) << "the family button keeps it";
  ASSERT_EQ(boxes.shown.size(), 1u) << "the instructions";

  commands.Apply(Commands::ChooseBroadcastTarget{.ToServer = false, .Remember = false});
  EXPECT_EQ(settings.OutputType(), BroadcastOutputType);
  EXPECT_FALSE(settings.RememberStreamServerAddress()) << "the address will not be stored";
}

}  // namespace
}  // namespace framory
