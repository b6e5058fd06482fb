// The shell's message table, start-up and shut-down order over the real
// recorder control with recorded platform calls.
#include "app/Application.h"

#include <gtest/gtest.h>

#include "support/QtGTestMain.h"
#include "support/RecorderFakes.h"

namespace framory {
namespace {

using namespace framory::testing;

class RecordingPlatform : public ShellPlatform {
 public:
  explicit RecordingPlatform(CallLog& log) : log_(log) {}
  bool CreateMainWindow() override {
    log_.push_back("CreateMainWindow");
    return createWorks;
  }
  void RemoveTrayIcon() override { log_.push_back("RemoveTrayIcon"); }
  void QuitLoop(int code) override { log_.push_back("QuitLoop " + std::to_string(code)); }
  bool createWorks = true;

 private:
  CallLog& log_;
};

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest()
      : timers(&log),
        boxes(&log),
        pointer(&log),
        view(&log),
        platform(log),
        recorder(settings,
                 RecorderServices(timers, tray, boxes, pointer, lastError, [this] { ++shots; })) {
    recorder.SetOptionsView(&view);
    Application::Steps steps;
    steps.LoadSettings = [this](Settings& s) {
      log.push_back("LoadSettings");
      s.SetTakeShotOnTimer(true);
    };
    steps.SaveSettings = [this](const Settings&) { log.push_back("SaveSettings"); };
    steps.StartHook = [this] {
      log.push_back("StartHook");
      return true;
    };
    steps.StopHook = [this] {
      log.push_back("StopHook");
      return true;
    };
    steps.EndClip = [this] { log.push_back("EndClip"); };
    steps.RecoverClips = [this] { log.push_back("RecoverClips"); };
    steps.ShowProjectDialog = [this] { log.push_back("ShowProjectDialog"); };
    steps.RunProjectDialog = [this] {
      log.push_back("RunProjectDialog");
      return projectAnswer;
    };
    application = std::make_unique<Application>(settings, recorder, timers, poster, boxes, platform,
                                                std::move(steps));
  }
  bool Logged(const std::string& entry) const {
    return std::find(log.begin(), log.end(), entry) != log.end();
  }
  std::ptrdiff_t Position(const std::string& entry) const {
    return std::find(log.begin(), log.end(), entry) - log.begin();
  }

  CallLog log;
  Settings settings;
  TrayState tray;
  FakeTimers timers;
  FakeBoxes boxes;
  FakePointer pointer;
  FakeLastError lastError;
  FakeView view;
  FakePoster poster;
  RecordingPlatform platform;
  Recorder recorder;
  std::unique_ptr<Application> application;
  bool projectAnswer = true;
  int shots = 0;
};

TEST_F(ApplicationTest, StartsPausedWithThePausedTrayIconAndPostsStartup) {
  settings.SetUserArea(Rect{5, 6, 7, 8});
  ASSERT_TRUE(application->Start());
  EXPECT_LT(Position("CreateMainWindow"), Position("LoadSettings"));
  EXPECT_TRUE(recorder.Paused());
  EXPECT_EQ(tray.IconId(), kPausedIcon);
  EXPECT_EQ(tray.Tip(), "Framory Recording Paused");
  EXPECT_TRUE(recorder.State().TrayIconAdded());
  EXPECT_EQ(poster.posted, std::vector<std::uint32_t>{MainWindowMessages::Startup});
  EXPECT_EQ(settings.UserArea().right, 0);
  EXPECT_FALSE(Logged("RunProjectDialog")) << "the welcome dialog waits for the event loop";
}

TEST_F(ApplicationTest, FailedWindowCreationLoadsNothing) {
  platform.createWorks = false;
  EXPECT_FALSE(application->Start());
  EXPECT_FALSE(Logged("LoadSettings"));
  EXPECT_TRUE(poster.posted.empty());
}

TEST_F(ApplicationTest, TrayLeftClickNeedsAReadyProjectRightClickAlwaysToggles) {
  application->Start();
  application->HandleMessage(MainWindowMessages::TrayNotify, TrayMouse::LeftButtonDown);
  application->HandleMessage(MainWindowMessages::ToggleMainView);
  EXPECT_FALSE(view.IsShown()) << "no project yet: the view stays closed";
  application->HandleMessage(MainWindowMessages::TrayNotify, TrayMouse::RightButtonDown);
  EXPECT_FALSE(recorder.Paused());
  application->HandleMessage(MainWindowMessages::TrayNotify, TrayMouse::ContextMenu);
  EXPECT_TRUE(recorder.Paused());
  application->HandleMessage(MainWindowMessages::TrayNotify, 0x200);
  EXPECT_TRUE(recorder.Paused()) << "a mouse move does nothing";

  application->HandleMessage(MainWindowMessages::Startup);
  // The repair box of unfinished clips comes before input is watched and
  // before the welcome dialog.
  EXPECT_LT(Position("RecoverClips"), Position("StartHook"));
  EXPECT_LT(Position("StartHook"), Position("RunProjectDialog"));
  EXPECT_TRUE(recorder.State().ProjectReady());
  application->HandleMessage(MainWindowMessages::TrayNotify, TrayMouse::LeftButtonDoubleClick);
  EXPECT_TRUE(view.IsShown());
}

// A second start on the display asks for the view: it comes forward, it is
// opened when closed, and it is never closed, which a toggle would do.
TEST_F(ApplicationTest, ASecondStartShowsTheViewOrTheWelcomeDialogNeverClosesThem) {
  application->Start();
  application->HandleMessage(MainWindowMessages::ShowMainView);
  EXPECT_TRUE(Logged("ShowProjectDialog")) << "the welcome dialog comes forward";
  EXPECT_FALSE(view.IsShown()) << "no options view before the project is ready";

  application->HandleMessage(MainWindowMessages::Startup);
  ASSERT_FALSE(view.IsShown());
  application->HandleMessage(MainWindowMessages::ShowMainView);
  EXPECT_TRUE(view.IsShown()) << "a closed view is opened";
  view.foreground = true;
  application->HandleMessage(MainWindowMessages::ShowMainView);
  EXPECT_TRUE(view.IsShown()) << "a view in front stays open";
  EXPECT_FALSE(Logged("Destroy"));

  view.foreground = false;
  log.clear();
  application->HandleMessage(MainWindowMessages::ShowMainView);
  EXPECT_TRUE(Logged("ShowAndBringToFront"));
  EXPECT_TRUE(view.foreground);

  // Closed and active with a trigger on: opening it pauses, as the chord does.
  view.Destroy();
  recorder.TogglePause();
  ASSERT_FALSE(recorder.Paused());
  application->HandleMessage(MainWindowMessages::ShowMainView);
  EXPECT_TRUE(view.IsShown());
  EXPECT_TRUE(recorder.Paused());

  view.Destroy();
  application->HandleMessage(kDestroyWindowMessage);
  application->HandleMessage(MainWindowMessages::ShowMainView);
  EXPECT_FALSE(view.IsShown()) << "nothing opens on the way out";
}

TEST_F(ApplicationTest, ExitInTheWelcomeDialogQuitsAndStillSavesAtShutDown) {
  application->Start();
  projectAnswer = false;
  application->HandleMessage(MainWindowMessages::Startup);
  EXPECT_TRUE(Logged("RemoveTrayIcon"));
  EXPECT_TRUE(Logged("QuitLoop 0"));
  EXPECT_FALSE(recorder.State().TrayIconAdded());
  application->ShutDown();
  EXPECT_TRUE(Logged("SaveSettings"));
}

TEST_F(ApplicationTest, NewProjectAbandonedQuitsCompletedMakesTheProjectReady) {
  application->Start();
  application->HandleMessage(MainWindowMessages::NewProject);
  EXPECT_TRUE(recorder.State().ProjectReady());
  projectAnswer = false;
  application->HandleMessage(MainWindowMessages::NewProject);
  EXPECT_FALSE(recorder.State().ProjectReady());
  EXPECT_TRUE(Logged("QuitLoop 0"));
}

TEST_F(ApplicationTest, DestroyRequestsQuitOnceAndRemovesTheTrayIconOnce) {
  application->Start();
  application->HandleMessage(kDestroyWindowMessage);
  application->HandleMessage(kDestroyWindowMessage);
  EXPECT_TRUE(recorder.State().QuitRequested());
  EXPECT_EQ(std::count(log.begin(), log.end(), "RemoveTrayIcon"), 1);
}

TEST_F(ApplicationTest, NothingIsHandledAfterTheDestroyMessage) {
  application->Start();
  application->HandleMessage(MainWindowMessages::Startup);
  recorder.TogglePause();  // active, periodic timer on
  application->HandleMessage(kDestroyWindowMessage);
  const bool pausedAtQuit = recorder.Paused();

  application->HandleMessage(MainWindowMessages::ToggleMainView);
  application->HandleMessage(MainWindowMessages::TrayNotify, TrayMouse::LeftButtonDown);
  application->HandleMessage(MainWindowMessages::TrayNotify, TrayMouse::RightButtonDown);
  application->HandleMessage(MainWindowMessages::NewProject);
  application->HandleMessage(MainWindowMessages::UserAreaDefined);
  application->HandleTimer(kPeriodicShotTimer);
  EXPECT_FALSE(view.IsShown()) << "the view must not open on the way out";
  EXPECT_EQ(recorder.Paused(), pausedAtQuit);
  EXPECT_EQ(std::count(log.begin(), log.end(), "RunProjectDialog"), 1);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(shots, 0);

  application->ShutDown();
  EXPECT_TRUE(Logged("SaveSettings")) << "shut-down still runs";
}

TEST_F(ApplicationTest, UserAreaDefinedShowsOneSystemModalBox) {
  application->HandleMessage(MainWindowMessages::UserAreaDefined);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, "Framory");
  EXPECT_EQ(boxes.shown[0].text,
            "A user defined capture area has been defined. Whatever appears over this area will "
            "be captured.");
  EXPECT_EQ(boxes.shown[0].flags, 0x1040u);
}

TEST_F(ApplicationTest, ShutDownSavesFirstThenStopsTimersHooksAndTheClip) {
  application->Start();
  recorder.TogglePause();  // active with the periodic timer on
  ASSERT_TRUE(recorder.State().PeriodicTimerRunning());
  recorder.State().SetDelayedShotPending(true);
  log.clear();
  application->ShutDown();
  const CallLog expected{"SaveSettings", "KillTimer 1", "KillTimer 2", "StopHook", "EndClip"};
  EXPECT_EQ(log, expected);
  EXPECT_FALSE(recorder.State().PeriodicTimerRunning());
  EXPECT_FALSE(recorder.State().DelayedShotPending());
}

TEST_F(ApplicationTest, TimersTakeShots) {
  application->Start();
  recorder.TogglePause();
  application->HandleTimer(kPeriodicShotTimer);
  application->HandleTimer(kPeriodicShotTimer);
  EXPECT_EQ(shots, 2);
  recorder.State().SetDelayedShotPending(true);
  application->HandleTimer(kDelayedShotTimer);
  EXPECT_EQ(shots, 3);
  EXPECT_FALSE(recorder.State().DelayedShotPending());
}

}  // namespace
}  // namespace framory
