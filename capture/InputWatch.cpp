// The input watch reacts to every recorded key and button event, paused or
// not: the chords, Ctrl+Break and the marking gesture work while paused, the
// shot triggers only while active. Everything runs on the GUI thread, inside
// the delivery of the event, so a shot due to a key or click is taken before
// the next event is looked at.
#include "capture/InputWatch.h"

#include <algorithm>

#include "base/TimerService.h"

namespace framory {

using namespace InputMessages;

InputWatch::InputWatch(Settings& settings, RecorderControl& recorder, MessagePoster& poster,
                       WindowSystem& windows, InputEventSource& input,
                       WindowEventSource& windowEvents)
    : settings_(settings),
      recorder_(recorder),
      poster_(poster),
      windows_(windows),
      input_(input),
      windowEvents_(windowEvents) {}

bool InputWatch::StartHook() {
  if (journalInstalled_) return true;
  if (!input_.Install(*this)) {
    recorder_.ReportApiFailure("StartHook");
    return false;
  }
  journalInstalled_ = true;
  // A window-event source that cannot be installed only costs the window
  // event trigger; it is not reported.
  if (!winEventInstalled_) winEventInstalled_ = windowEvents_.Install(*this);
  return true;
}

bool InputWatch::StopHook() {
  if (!journalInstalled_) return true;
  const bool inputRemoved = input_.Remove();
  journalInstalled_ = false;
  if (!inputRemoved) recorder_.ReportApiFailure("StopHook");
  bool windowsRemoved = true;
  if (winEventInstalled_) {
    windowsRemoved = windowEvents_.Remove();
    if (!windowsRemoved) recorder_.ReportApiFailure("StopHook");
    winEventInstalled_ = false;
  }
  return inputRemoved && windowsRemoved;
}

void InputWatch::InputSourceLost() {
  // The source has stopped by itself (its display connection broke). The
  // chords and input triggers are gone from now on, as after Ctrl+Break, and
  // the user is told so through the usual error channel.
  if (!journalInstalled_) return;
  journalInstalled_ = false;
  recorder_.ReportApiFailure("StopHook");
}

void InputWatch::JournalHookProc(int code, const InputEvent& event) {
  if (code == HookCodes::SysModalOn) {
    sysModalActive_ = true;
    return;
  }
  if (code == HookCodes::SysModalOff) {
    sysModalActive_ = false;
    return;
  }
  if (code != HookCodes::Action || sysModalActive_) return;

  const std::uint32_t message = event.Message;
  const std::uint8_t key = static_cast<std::uint8_t>(event.ParamL & 0xFF);
  // With BareChordOnly the Ctrl-then-Shift chord only arms here and toggles
  // once both keys are up; any other key pressed meanwhile (the T of
  // Ctrl+Shift+T in another program) disarms it.
  if (message == KeyDown && key != VirtualKeys::Shift && key != VirtualKeys::Control) {
    bareChordArmed_ = false;
  }
  if (message == KeyDown && key == VirtualKeys::Shift) {
    if (ctrlDown_ && !shiftDown_) {
      if (settings_.BareChordOnly()) {
        bareChordArmed_ = true;
      } else {
        recorder_.TogglePause();
      }
    }
    shiftDown_ = true;
  } else if (message == KeyDown && key == VirtualKeys::Control) {
    if (shiftDown_ && !ctrlDown_) {
      if (!recorder_.Paused() && recorder_.AnyTriggerEnabled()) recorder_.TogglePause();
      poster_.PostMessage(MainWindowMessages::ToggleMainView);
    }
    ctrlDown_ = true;
  } else if (message == KeyUp && key == VirtualKeys::Shift) {
    shiftDown_ = false;
    ReleaseBareChord();
  } else if (message == KeyUp && key == VirtualKeys::Control) {
    ctrlDown_ = false;
    ReleaseBareChord();
  } else if (message == RButtonDown && markStep_ > 0) {
    MarkCorner();
  }

  if (message == KeyDown && key == VirtualKeys::Cancel) StopHook();
  // The triggers themselves skip messages that take no shot and do nothing
  // while paused.
  DispatchInputTrigger(message, key);
}

void InputWatch::ReleaseBareChord() {
  if (!bareChordArmed_ || shiftDown_ || ctrlDown_) return;
  bareChordArmed_ = false;
  recorder_.TogglePause();
}

void InputWatch::MarkCorner() {
  const Point at = windows_.CursorPos();
  if (markStep_ == 1) {
    settings_.SetUserAreaLeft(at.x);
    settings_.SetUserAreaTop(at.y);
    markStep_ = 2;
    return;
  }
  settings_.SetUserAreaRight(at.x);
  settings_.SetUserAreaBottom(at.y);
  markStep_ = 0;
  Rect area = settings_.UserArea();
  if (area.left > area.right) std::swap(area.left, area.right);
  if (area.top > area.bottom) std::swap(area.top, area.bottom);
  settings_.SetUserArea(area);
  settings_.SetHasMarkUserArea(true);
  poster_.PostMessage(MainWindowMessages::UserAreaDefined);
}

void InputWatch::DispatchInputTrigger(std::uint32_t message, std::uint8_t virtualKey) {
  if (recorder_.Paused()) return;
  bool due = false;
  if (message == KeyDown && virtualKey == VirtualKeys::Snapshot &&
      settings_.TakeShotOnPrintScreen()) {
    due = true;
  }
  if (message == KeyUp && settings_.TakeShotOnKey()) due = true;
  if (settings_.TakeShotOnClick() || settings_.TakeShotOnAuto()) {
    switch (message) {
      case LButtonDown:
      case LButtonDblClk:
      case RButtonDown:
      case RButtonDblClk:
      case MButtonDown:
      case MButtonDblClk:
        due = true;
        break;
      default:
        break;
    }
  }
  if (due) recorder_.TakeShot();
}

void InputWatch::WinEventProc(std::uint32_t event) {
  if (!settings_.TakeShotOnWinEvent() || recorder_.Paused()) return;
  using namespace WinEvents;
  switch (event) {
    case SystemForeground:
    case SystemMenuStart:
    case SystemMenuEnd:
    case SystemMenuPopupStart:
    case SystemMenuPopupEnd:
    case SystemMoveSizeEnd:
    case SystemDragDropStart:
    case SystemDragDropEnd:
    case SystemDialogStart:
    case SystemDialogEnd:
    case SystemMinimizeEnd:
    case ObjectCreate:
    case ObjectDestroy:
    case ObjectShow:
    case ObjectHide:
    case ObjectReorder:
    case ObjectFocus:
    case ObjectSelection:
    case ObjectSelectionAdd:
    case ObjectStateChange:
    case ObjectLocationChange:
    case ObjectNameChange:
    case ObjectDescriptionChange:
    case ObjectValueChange:
      break;
    default:
      return;
  }
  // A burst of events gives one shot, 100 ms after its first event.
  ScheduleDelayedShot(kDelayedShotMilliseconds);
}

bool InputWatch::PeriodicTimerRunning() const { return recorder_.PeriodicTimerRunning(); }

void InputWatch::ScheduleDelayedShot(std::int32_t milliseconds) {
  recorder_.ScheduleDelayedShot(milliseconds);
}

void InputWatch::ArmMarking(bool arm) {
  if (arm) markStep_ = 1;
}

void InputWatch::SysModalChanged(bool active) {
  JournalHookProc(active ? HookCodes::SysModalOn : HookCodes::SysModalOff, InputEvent{});
}

}  // namespace framory
