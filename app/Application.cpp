#include "app/Application.h"

namespace framory {

Application::Application(Settings& settings, Recorder& recorder, TimerService& timers,
                         MessagePoster& poster, MessageBoxService& boxes, ShellPlatform& platform,
                         Steps steps)
    : settings_(settings),
      recorder_(recorder),
      timers_(timers),
      poster_(poster),
      boxes_(boxes),
      platform_(platform),
      steps_(std::move(steps)) {}

bool Application::Start() {
  settings_.SetUserArea(Rect{0, 0, 0, 0});
  if (!platform_.CreateMainWindow()) return false;
  recorder_.State().SetTrayIconAdded(true);
  steps_.LoadSettings(settings_);
  // The recorder state starts active, so this always runs: the program starts
  // paused, with the paused tray icon.
  if (!recorder_.Paused()) recorder_.TogglePause();
  poster_.PostMessage(MainWindowMessages::Startup);
  return true;
}

void Application::HandleMessage(std::uint32_t message, std::int32_t lParam) {
  RecorderState& state = recorder_.State();
  // Once the main window is destroyed the loop is over: whatever the event
  // loop still delivers before it returns (a queued chord, a tray click) must
  // not open views or dialogs on the way out.
  if (state.QuitRequested()) return;
  switch (message) {
    case kDestroyWindowMessage:
      state.SetQuitRequested(true);
      QuitApplication();
      break;
    case MainWindowMessages::TrayNotify:
      switch (lParam) {
        case TrayMouse::LeftButtonDown:
        case TrayMouse::LeftButtonDoubleClick:
          if (state.ProjectReady()) recorder_.ToggleMainView();
          break;
        case TrayMouse::ContextMenu:
        case TrayMouse::RightButtonDown:
        case TrayMouse::RightButtonDoubleClick:
          recorder_.TogglePause();
          break;
        default:
          break;
      }
      break;
    case MainWindowMessages::ToggleMainView:
      if (state.ProjectReady()) recorder_.ToggleMainView();
      break;
    case MainWindowMessages::ShowMainView:
      // Until the project is ready the welcome dialog is what the user has
      // to answer, so that is what comes forward.
      if (state.ProjectReady()) {
        recorder_.ShowMainView();
      } else if (steps_.ShowProjectDialog) {
        steps_.ShowProjectDialog();
      }
      break;
    case MainWindowMessages::NewProject:
      NewProject();
      break;
    case MainWindowMessages::OpenCommentWindow:
      if (steps_.OpenCommentWindow) steps_.OpenCommentWindow();
      break;
    case MainWindowMessages::Startup:
      Startup();
      break;
    case MainWindowMessages::UserAreaDefined:
      boxes_.Show(kUserAreaDefinedText, "Framory",
                  MessageBoxFlags::SystemModal | MessageBoxFlags::IconInformation);
      break;
    default:
      break;
  }
}

void Application::HandleTimer(std::int32_t id) {
  // No shot after the main window is destroyed (see HandleMessage).
  if (recorder_.State().QuitRequested()) return;
  recorder_.OnTimer(id);
}

void Application::NewProject() {
  recorder_.State().SetProjectReady(false);
  if (steps_.RunProjectDialog()) {
    recorder_.State().SetProjectReady(true);
  } else {
    QuitApplication();
  }
}

void Application::Startup() {
  if (steps_.RecoverClips) steps_.RecoverClips();
  steps_.StartHook();
  if (!steps_.RunProjectDialog()) QuitApplication();
  recorder_.State().SetProjectReady(true);
}

void Application::QuitApplication() {
  RecorderState& state = recorder_.State();
  if (state.TrayIconAdded()) platform_.RemoveTrayIcon();
  state.SetTrayIconAdded(false);
  platform_.QuitLoop(0);
}

void Application::ShutDown() {
  steps_.SaveSettings(settings_);
  recorder_.State().KillCaptureTimers(timers_);
  steps_.StopHook();
  steps_.EndClip();
}

}  // namespace framory
