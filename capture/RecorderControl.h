// The recorder as the capture triggers drive it: the pause switch, the one
// error channel, the shot itself and the two capture timers. The recorder
// control in app/ implements it; the triggers never see its state directly.
#pragma once

#include <cstdint>

namespace framory {

class RecorderControl {
 public:
  virtual ~RecorderControl() = default;
  virtual bool Paused() const = 0;
  // Switches between paused and active with every side effect.
  virtual void TogglePause() = 0;
  // Pauses if active and shows "<name> failed: GetLastError returned <code>";
  // returns the box's result.
  virtual int ReportApiFailure(const char* name) = 0;
  // One of the click, window-event, key or timer triggers is on.
  virtual bool AnyTriggerEnabled() const = 0;
  virtual void TakeShot() = 0;
  // Timer 2 (the periodic shot) is running.
  virtual bool PeriodicTimerRunning() const = 0;
  // Starts timer 1 (the delayed shot) unless it is already pending.
  virtual void ScheduleDelayedShot(std::int32_t milliseconds) = 0;
};

}  // namespace framory
