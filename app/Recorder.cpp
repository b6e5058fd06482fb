#include "app/Recorder.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>

namespace framory {

const char* const kFirstViewText =
    "Framory is now ready to start capturing movies or bitmaps! However, while Framory is "
    "pausing (as shown by title bar or letter P over the icon in the system tray) no movie or "
    "snapshots will be recorded. This gives you time to prepare for recording or update the "
    "comment window.\n\nHold down Ctrl and press Shift at any time, from anywhere, (even if "
    "Framory is hidden) to start, pause or resume recordings. You can hold down Shift and then "
    "press Control to open or hide the Framory options window. Doing so may put Framory in "
    "pause mode depending on the recording settings.";

Recorder::Recorder(const Settings& settings, Services services)
    : settings_(settings), services_(std::move(services)) {}

bool Recorder::AnyTriggerEnabled() const {
  return settings_.TakeShotOnClick() || settings_.TakeShotOnWinEvent() ||
         settings_.TakeShotOnKey() || settings_.TakeShotOnTimer();
}

void Recorder::TogglePause() {
  state_.SetPaused(!state_.Paused());
  const bool paused = state_.Paused();

  if (services_.View != nullptr) services_.View->RefreshTitle();

  if (services_.Encoder != nullptr) services_.Encoder->RecorderPauseChanged(paused);
  if (services_.Encoder != nullptr && services_.Encoder->Exists()) {
    if (paused) {
      services_.Encoder->PauseEncoding();
    } else {
      services_.Encoder->StartEncoding();
    }
  }

  std::int32_t icon;
  std::string tip;
  RecordingMeter* meter = services_.Meter;
  if (paused) {
    state_.SetSavedMousePos(services_.Windows->CursorPos());
    state_.SetMousePosSaved(true);
    state_.KillCaptureTimers(*services_.Timers);
    icon = kPausedIcon;
    tip = kTipPaused;
    if (meter != nullptr) {
      meter->Paused();
      services_.Timers->KillTimer(kTipTimer);
    }
  } else {
    icon = kProgramIcon;
    tip = kTipRecording;
    if (meter != nullptr) {
      meter->Resumed();
      tip = ActiveTip();
      services_.Timers->SetTimer(kTipTimer, kTipPeriodMilliseconds);
    }
    if (state_.MousePosSaved() && settings_.RestoreMouse()) {
      services_.Windows->SetCursorPos(state_.SavedMousePos());
    }
    // The period is read here, so a TimerValue changed while active takes
    // effect at the next resume.
    if (settings_.TakeShotOnTimer()) {
      state_.PeriodicShot().Start(*services_.Timers, settings_.TimerValue());
    }
  }

  services_.Tray->Modify(icon, tip);
}

bool Recorder::ToggleMainView() {
  OptionsViewHost* view = services_.View;
  if (view == nullptr) return true;
  if (view->IsShown()) {
    if (!view->IsForeground() && view->ShowAndBringToFront()) return true;
    // Closing the view leaves the pause state alone.
    view->Destroy();
    return true;
  }
  if (AnyTriggerEnabled() && !state_.Paused()) TogglePause();
  view->Create();
  if (state_.FirstView()) {
    state_.SetFirstView(false);
    services_.Boxes->Show(kFirstViewText, kFirstViewCaption, MessageBoxFlags::IconInformation);
  }
  return true;
}

void Recorder::ShowMainView() {
  OptionsViewHost* view = services_.View;
  if (view != nullptr && view->IsShown()) {
    view->ShowAndBringToFront();
    return;
  }
  ToggleMainView();
}

int Recorder::ReportErrorAndPause(const char* format, ...) {
  char text[500];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (!state_.Paused()) TogglePause();
  return services_.Boxes->Show(text, kErrorCaption, MessageBoxFlags::IconWarning);
}

int Recorder::ReportApiFailure(const char* name) {
  // Read before anything else can overwrite it.
  const std::uint32_t code = services_.LastError->LastError();
  return ReportErrorAndPause("%s failed: GetLastError returned %X\n", name, code);
}

void Recorder::NoticeSaved(const std::string& savedPath) {
  std::error_code error;
  if (services_.Notices != nullptr && !savedPath.empty() &&
      std::filesystem::is_regular_file(savedPath, error)) {
    services_.Notices->FileSaved(savedPath);
  }
}

void Recorder::RecordingEnded(const std::string& savedPath) {
  NoticeSaved(savedPath);
  if (services_.Meter == nullptr) return;
  services_.Meter->Reset();
  RefreshTip();
}

void Recorder::RefreshTip() {
  if (services_.Meter == nullptr || state_.Paused()) return;
  services_.Tray->Modify(kProgramIcon, ActiveTip());
}

std::string Recorder::ActiveTip() {
  std::string tip = services_.Meter->Tip(kTipRecording, TrayState::kMaxTipLength);
  const std::string stream =
      services_.Stream != nullptr ? services_.Stream->TipText() : std::string();
  if (!stream.empty()) tip += " " + stream;
  // A long host name is cut at the tip's end.
  if (tip.size() > TrayState::kMaxTipLength) tip.resize(TrayState::kMaxTipLength);
  return tip;
}

bool Recorder::OnTimer(std::int32_t id) {
  if (id == kTipTimer && services_.Meter != nullptr) {
    RefreshTip();
    return true;
  }
  if (id == kDelayedShotTimer) {
    state_.DelayedShot().Expired(*services_.Timers);
    TakeShot();
    return true;
  }
  if (id == kPeriodicShotTimer) {
    TakeShot();
    return true;
  }
  return false;
}

void Recorder::ScheduleDelayedShot(std::int32_t milliseconds) {
  state_.DelayedShot().Start(*services_.Timers, milliseconds);
}

void Recorder::TakeShot() {
  if (services_.TakeShot) services_.TakeShot();
}

}  // namespace framory
