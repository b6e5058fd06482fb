// The capture triggers: decides when a shot is taken from system-wide input
// (key releases, Print Screen, mouse presses) and window events, carries the
// two recorder chords (Ctrl then Shift: pause/resume; Shift then Ctrl: show or
// hide the options view), Ctrl+Break (stop watching), and the two-right-click
// gesture that marks the user area. Together with the recorder state it is
// the capture target's ShotScheduler.
#pragma once

#include <cstdint>

#include "base/MessagePoster.h"
#include "base/Settings.h"
#include "capture/CaptureLinks.h"
#include "capture/InputEventSource.h"
#include "capture/RecorderControl.h"
#include "capture/WindowEventSource.h"
#include "capture/WindowSystem.h"

namespace framory {

class InputWatch : public ShotScheduler, public InputEventSink, public WindowEventSink {
 public:
  InputWatch(Settings& settings, RecorderControl& recorder, MessagePoster& poster,
             WindowSystem& windows, InputEventSource& input, WindowEventSource& windowEvents);

  // Installs both sources; true when the input source is (already) installed.
  bool StartHook();
  // Removes both sources; true only when every removal succeeded.
  bool StopHook();

  // InputEventSink. The callback of the recorded input; also receives the
  // system-modal on/off notifications.
  void JournalHookProc(int code, const InputEvent& event) override;
  void InputSourceLost() override;
  // WindowEventSink.
  void WinEventProc(std::uint32_t event) override;

  // Takes a shot now when the event is one the trigger settings ask for.
  void DispatchInputTrigger(std::uint32_t message, std::uint8_t virtualKey);

  // ShotScheduler.
  bool PeriodicTimerRunning() const override;
  void ScheduleDelayedShot(std::int32_t milliseconds) override;

  // true: the next right click marks the first corner of the user area.
  void ArmMarking(bool arm);
  // A system-modal box came up (true) or went away (false).
  void SysModalChanged(bool active);

  bool JournalHookInstalled() const { return journalInstalled_; }
  bool WinEventHookInstalled() const { return winEventInstalled_; }
  bool SysModalActive() const { return sysModalActive_; }
  bool ShiftDown() const { return shiftDown_; }
  bool CtrlDown() const { return ctrlDown_; }
  std::int32_t MarkStep() const { return markStep_; }
  bool HasMarkUserArea() const { return settings_.HasMarkUserArea(); }
  const Rect& UserArea() const { return settings_.UserArea(); }

 private:
  void MarkCorner();
  // Both chord keys are up: toggles if the bare Ctrl-then-Shift chord is armed.
  void ReleaseBareChord();

  Settings& settings_;
  RecorderControl& recorder_;
  MessagePoster& poster_;
  WindowSystem& windows_;
  InputEventSource& input_;
  WindowEventSource& windowEvents_;

  bool journalInstalled_ = false;
  bool winEventInstalled_ = false;
  bool sysModalActive_ = false;
  bool shiftDown_ = false;
  bool ctrlDown_ = false;
  bool bareChordArmed_ = false;
  std::int32_t markStep_ = 0;
};

}  // namespace framory
