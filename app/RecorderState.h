// The recorder's own state: paused or active, the pointer position taken at
// the last pause, which of the two capture timers runs, and the shell's flags.
// Nothing here is persisted; every field starts at the value given below.
#pragma once

#include "base/Geometry.h"
#include "base/TimerService.h"

namespace framory {

class RecorderState {
 public:
  // Changed only by Recorder::TogglePause.
  bool Paused() const { return paused_; }
  void SetPaused(bool v) { paused_ = v; }

  bool MousePosSaved() const { return mousePosSaved_; }
  void SetMousePosSaved(bool v) { mousePosSaved_ = v; }
  void ClearMousePosSaved() { mousePosSaved_ = false; }
  Point SavedMousePos() const { return savedMousePos_; }
  void SetSavedMousePos(Point p) { savedMousePos_ = p; }

  // Timer 1 (the delayed shot) and timer 2 (the periodic shot).
  CaptureTimer& DelayedShot() { return delayedShot_; }
  CaptureTimer& PeriodicShot() { return periodicShot_; }
  bool DelayedShotPending() const { return delayedShot_.Running(); }
  void SetDelayedShotPending(bool v) { delayedShot_.SetRunning(v); }
  bool PeriodicTimerRunning() const { return periodicShot_.Running(); }
  void SetPeriodicTimerRunning(bool v) { periodicShot_.SetRunning(v); }
  // Kills both capture timers that run.
  void KillCaptureTimers(TimerService& timers) {
    delayedShot_.Kill(timers);
    periodicShot_.Kill(timers);
  }

  bool TrayIconAdded() const { return trayIconAdded_; }
  void SetTrayIconAdded(bool v) { trayIconAdded_ = v; }
  bool ProjectReady() const { return projectReady_; }
  void SetProjectReady(bool v) { projectReady_ = v; }
  bool QuitRequested() const { return quitRequested_; }
  void SetQuitRequested(bool v) { quitRequested_ = v; }

  // The next showing of the options view is its first one.
  bool FirstView() const { return firstView_; }
  void SetFirstView(bool v) { firstView_ = v; }

 private:
  bool paused_ = false;
  bool mousePosSaved_ = false;
  Point savedMousePos_{};
  CaptureTimer delayedShot_{kDelayedShotTimer};
  CaptureTimer periodicShot_{kPeriodicShotTimer};
  bool trayIconAdded_ = false;
  bool projectReady_ = false;
  bool quitRequested_ = false;
  bool firstView_ = true;
};

}  // namespace framory
