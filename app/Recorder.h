// Recorder control: the paused/active switch with all of its side effects
// (options view title, encoder pause/start, saved pointer position, capture
// timers, tray icon), the show/hide of the options view, the expiry of the two
// capture timers, and the one error channel for capture-time failures, which
// pauses first and then tells the user.
#pragma once

#include <cstdint>
#include <functional>

#include "app/OptionsViewHost.h"
#include "app/RecorderState.h"
#include "app/TrayState.h"
#include "base/LastError.h"
#include "base/MessageBoxService.h"
#include "base/Settings.h"
#include "base/TimerService.h"
#include "capture/EncoderControl.h"
#include "capture/RecorderControl.h"
#include "capture/WindowSystem.h"

namespace framory {

inline constexpr const char* kErrorCaption = "Error - Recorder will go in pause mode";
inline constexpr const char* kFirstViewCaption = "Framory Pausing...";
extern const char* const kFirstViewText;

class Recorder : public RecorderControl {
 public:
  struct Services {
    TimerService* Timers = nullptr;
    TrayState* Tray = nullptr;
    MessageBoxService* Boxes = nullptr;
    WindowSystem* Windows = nullptr;  // pointer position
    LastErrorSource* LastError = nullptr;
    // Takes one shot now.
    std::function<void()> TakeShot;
    // Optional: absent means no view shown / no encoder session.
    OptionsViewHost* View = nullptr;
    EncoderControl* Encoder = nullptr;
  };

  // Every service but View and Encoder must be given.
  Recorder(const Settings& settings, Services services);

  RecorderState& State() { return state_; }
  const RecorderState& State() const { return state_; }
  bool Paused() const override { return state_.Paused(); }

  void SetOptionsView(OptionsViewHost* view) { services_.View = view; }
  void SetEncoder(EncoderControl* encoder) { services_.Encoder = encoder; }

  void TogglePause() override;
  // Shows, brings forward or closes the options view. Always true.
  bool ToggleMainView();
  // Shows the options view, or brings it forward when it is shown already;
  // unlike ToggleMainView it never closes it. Opening it pauses as
  // ToggleMainView does.
  void ShowMainView();
  // Pauses (unless already paused) and shows the warning box; returns the
  // box's result. The text is cut at 499 characters.
  int ReportErrorAndPause(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // "<name> failed: GetLastError returned <code in hex>".
  int ReportApiFailure(const char* name) override;
  // One of the click, window-event, key or timer triggers is on.
  bool AnyTriggerEnabled() const override;

  // Expiry of a capture timer; false for ids that are not the recorder's.
  bool OnTimer(std::int32_t id);
  void TakeShot() override;
  bool PeriodicTimerRunning() const override { return state_.PeriodicTimerRunning(); }
  void ScheduleDelayedShot(std::int32_t milliseconds) override;

 private:
  const Settings& settings_;
  Services services_;
  RecorderState state_;
};

}  // namespace framory
