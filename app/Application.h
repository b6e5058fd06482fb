// The program's shell without a visible main window: the start-up order, the
// hidden main window's message table (tray notifications, the options view
// toggle, new project, comment window, start-up, user area defined, destroy,
// and the show request of a second start on the same display),
// the capture timers' expiry, the quit path and the shut-down order. The
// event loop, the tray icon and message posting are the platform's.
#pragma once

#include <cstdint>
#include <functional>

#include "app/Recorder.h"
#include "base/MessageBoxService.h"
#include "base/MessagePoster.h"
#include "base/Settings.h"
#include "base/TimerService.h"

namespace framory {

// Mouse messages the tray icon reports with WM_TRAY_NOTIFY.
namespace TrayMouse {
inline constexpr std::int32_t ContextMenu = 0x7B;
inline constexpr std::int32_t LeftButtonDown = 0x201;
inline constexpr std::int32_t LeftButtonDoubleClick = 0x203;
inline constexpr std::int32_t RightButtonDown = 0x204;
inline constexpr std::int32_t RightButtonDoubleClick = 0x206;
}  // namespace TrayMouse

inline constexpr const char* kUserAreaDefinedText =
    "A user defined capture area has been defined. Whatever appears over this area will be "
    "captured.";

// What the shell asks of the platform around it.
class ShellPlatform {
 public:
  virtual ~ShellPlatform() = default;
  // Creates the hidden main window and shows the tray icon; false on failure.
  virtual bool CreateMainWindow() = 0;
  virtual void RemoveTrayIcon() = 0;
  // Ends the event loop with `code` once control returns to it.
  virtual void QuitLoop(int code) = 0;
};

class Application {
 public:
  // Steps of the other parts; each must be given except OpenCommentWindow
  // and RecoverClips.
  struct Steps {
    std::function<void(Settings&)> LoadSettings;
    std::function<void(const Settings&)> SaveSettings;
    std::function<bool()> StartHook;
    std::function<bool()> StopHook;
    std::function<void()> EndClip;
    // The welcome/project dialog run: true when the user went on.
    std::function<bool()> RunProjectDialog;
    std::function<void()> OpenCommentWindow;
    // Repairs the clips an earlier run left unfinished and tells the user;
    // runs first at start-up, before the input watch and the welcome dialog.
    std::function<void()> RecoverClips;
    // Optional: brings the welcome/project dialog forward while it runs.
    std::function<void()> ShowProjectDialog;
  };

  Application(Settings& settings, Recorder& recorder, TimerService& timers, MessagePoster& poster,
              MessageBoxService& boxes, ShellPlatform& platform, Steps steps);

  // Start-up up to the event loop: false when the main window cannot be
  // created (nothing is loaded then, and nothing is to be saved).
  bool Start();
  // The main window procedure for one message; lParam carries the tray's
  // mouse message. Messages after the destroy message are dropped, as the
  // message loop ends at the first one.
  void HandleMessage(std::uint32_t message, std::int32_t lParam = 0);
  // A main-window timer expired (dropped after the destroy message).
  void HandleTimer(std::int32_t id);
  // Removes the tray icon and ends the event loop.
  void QuitApplication();
  // After the event loop: settings saved, timers killed, input watch removed,
  // open clip ended.
  void ShutDown();

 private:
  void NewProject();
  void Startup();

  Settings& settings_;
  Recorder& recorder_;
  TimerService& timers_;
  MessagePoster& poster_;
  MessageBoxService& boxes_;
  ShellPlatform& platform_;
  Steps steps_;
};

}  // namespace framory
