// Recorder control: the paused/active switch with all of its side effects
// (options view title, encoder pause/start, saved pointer position, capture
// timers, tray icon), the show/hide of the options view, the expiry of the two
// capture timers, and the one error channel for capture-time failures, which
// pauses first and then tells the user.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/OptionsViewHost.h"
#include "app/RecorderState.h"
#include "app/RecordingMeter.h"
#include "app/SavedFileNotices.h"
#include "app/TrayState.h"
#include "base/LastError.h"
#include "base/MessageBoxService.h"
#include "base/Settings.h"
#include "base/TimerService.h"
#include "capture/EncoderControl.h"
#include "capture/RecorderControl.h"
#include "capture/WindowSystem.h"
#include "writers/StreamStatus.h"

namespace framory {

// While recording, the tray tip is refreshed by this timer, once a second.
inline constexpr std::int32_t kTipTimer = 16;
inline constexpr std::int32_t kTipPeriodMilliseconds = 1000;

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
    // Optional: with a meter, the tip tells the elapsed time and the size
    // written while recording.
    RecordingMeter* Meter = nullptr;
    // Optional: told of every clip file saved.
    SavedFileNotices* Notices = nullptr;
    // Optional: a broadcast to a streaming server adds its state to the tip
    // while recording ("Broadcasting to host").
    StreamStatus* Stream = nullptr;
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

  // The clip ended, leaving `savedPath` (empty: no file): the user is told
  // of the file, and the tip's time and size start again.
  void RecordingEnded(const std::string& savedPath);
  // The user is told of a file finished after its clip ended (a movie its
  // sound was joined into).
  void NoticeSaved(const std::string& savedPath);

  // Expiry of a capture timer or the tip timer; false for other ids.
  bool OnTimer(std::int32_t id);
  void TakeShot() override;
  bool PeriodicTimerRunning() const override { return state_.PeriodicTimerRunning(); }
  void ScheduleDelayedShot(std::int32_t milliseconds) override;

 private:
  // While active with a meter: the tip with the current time and size.
  void RefreshTip();

  const Settings& settings_;
  // The meter's tip with the stream's state after it.
  std::string ActiveTip();

  Services services_;
  RecorderState state_;
};

}  // namespace framory
