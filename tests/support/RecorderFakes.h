// Recording fakes of the services the recorder and the input watch drive:
// each keeps a log of what it was asked to do so that tests can check calls
// and their order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/OptionsViewHost.h"
#include "app/Recorder.h"
#include "base/LastError.h"
#include "base/MessageBoxService.h"
#include "base/MessagePoster.h"
#include "base/TimerService.h"
#include "capture/EncoderControl.h"
#include "capture/InputEventSource.h"
#include "capture/WindowEventSource.h"
#include "capture/WindowSystem.h"

namespace framory::testing {

// A shared journal of calls across fakes, for order checks.
using CallLog = std::vector<std::string>;

class FakeTimers : public TimerService {
 public:
  explicit FakeTimers(CallLog* log = nullptr) : log_(log) {}
  void SetTimer(std::int32_t id, std::int32_t ms) override {
    running[id] = ms;
    ++setCount[id];
    if (log_) log_->push_back("SetTimer " + std::to_string(id) + " " + std::to_string(ms));
  }
  void KillTimer(std::int32_t id) override {
    running.erase(id);
    if (log_) log_->push_back("KillTimer " + std::to_string(id));
  }
  bool Running(std::int32_t id) const { return running.count(id) != 0; }
  std::map<std::int32_t, std::int32_t> running;  // id -> period
  std::map<std::int32_t, int> setCount;

 private:
  CallLog* log_;
};

struct ShownBox {
  std::string text;
  std::string caption;
  std::uint32_t flags;
};

class FakeBoxes : public MessageBoxService {
 public:
  explicit FakeBoxes(CallLog* log = nullptr) : log_(log) {}
  int Show(const std::string& text, const std::string& caption, std::uint32_t flags) override {
    shown.push_back({text, caption, flags});
    if (log_) log_->push_back("Box " + caption);
    return result;
  }
  std::vector<ShownBox> shown;
  int result = MessageBoxResults::Ok;

 private:
  CallLog* log_;
};

class FakePoster : public MessagePoster {
 public:
  void PostMessage(std::uint32_t message) override { posted.push_back(message); }
  int Count(std::uint32_t message) const {
    int n = 0;
    for (std::uint32_t m : posted) n += m == message;
    return n;
  }
  std::vector<std::uint32_t> posted;
};

// Only the pointer is real here; the rest answers "no window".
class FakePointer : public WindowSystem {
 public:
  explicit FakePointer(CallLog* log = nullptr) : log_(log) {}
  WindowHandle DesktopWindow() override { return 1; }
  WindowHandle ForegroundWindow() override { return kNoWindow; }
  WindowHandle RootOwner(WindowHandle w) override { return w; }
  bool IsWindowVisible(WindowHandle) override { return false; }
  bool IsWindow(WindowHandle) override { return false; }
  bool GetWindowInfo(WindowHandle, Rect*, Rect*) override { return false; }
  bool ClientOrigin(WindowHandle, Point*) override { return false; }
  bool SetOuterSize(WindowHandle, std::int32_t, std::int32_t) override { return false; }
  Point CursorPos() override {
    if (log_) log_->push_back("CursorPos");
    return pos;
  }
  void SetCursorPos(Point p) override {
    pos = p;
    moves.push_back(p);
    if (log_) log_->push_back("SetCursorPos");
  }
  std::int32_t ScreenWidth() override { return 1920; }
  std::int32_t ScreenHeight() override { return 1080; }
  Point pos{};
  std::vector<Point> moves;

 private:
  CallLog* log_;
};

class FakeLastError : public LastErrorSource {
 public:
  std::uint32_t LastError() const override { return code; }
  std::uint32_t code = 0;
};

class FakeView : public OptionsViewHost {
 public:
  explicit FakeView(CallLog* log = nullptr) : log_(log) {}
  bool IsShown() const override { return shown; }
  bool IsForeground() const override { return foreground; }
  bool ShowAndBringToFront() override {
    Log("ShowAndBringToFront");
    if (bringToFrontWorks) foreground = true;
    return bringToFrontWorks;
  }
  void Destroy() override {
    Log("Destroy");
    shown = false;
    foreground = false;
  }
  void Create() override {
    Log("Create");
    shown = true;
    foreground = true;
  }
  void RefreshTitle() override { Log("RefreshTitle"); }
  bool shown = false;
  bool foreground = false;
  bool bringToFrontWorks = true;

 private:
  void Log(const char* what) {
    if (log_) log_->push_back(what);
  }
  CallLog* log_;
};

class FakeEncoder : public EncoderControl {
 public:
  explicit FakeEncoder(CallLog* log = nullptr) : log_(log) {}
  bool Exists() const override { return exists; }
  void PauseEncoding() override {
    if (log_) log_->push_back("PauseEncoding");
  }
  void StartEncoding() override {
    if (log_) log_->push_back("StartEncoding");
  }
  void RecorderPauseChanged(bool paused) override { pauseChanges.push_back(paused); }
  bool exists = true;
  std::vector<bool> pauseChanges;  // every pause (true) and resume (false) told

 private:
  CallLog* log_;
};

// A source the test installs, removes and feeds by hand; each step can be
// made to fail with a given last-error code.
template <typename Source, typename Sink>
class FakeSource : public Source {
 public:
  FakeSource(std::uint32_t installErrorCode, std::uint32_t removeErrorCode)
      : installError(installErrorCode), removeError(removeErrorCode) {}
  bool Install(Sink& s) override {
    ++installCalls;
    if (!installWorks) {
      if (installError != 0) SetLastError(installError);
      return false;
    }
    sink = &s;
    return true;
  }
  bool Remove() override {
    ++removeCalls;
    sink = nullptr;
    if (!removeWorks) SetLastError(removeError);
    return removeWorks;
  }
  Sink* sink = nullptr;
  bool installWorks = true;
  bool removeWorks = true;
  std::uint32_t installError;
  std::uint32_t removeError;
  int installCalls = 0;
  int removeCalls = 0;
};

class FakeInputSource : public FakeSource<InputEventSource, InputEventSink> {
 public:
  FakeInputSource() : FakeSource(5, 6) {}
  // Delivers one event as the recording callback would.
  void Send(std::uint32_t message, std::uint32_t key = 0) {
    if (sink) sink->JournalHookProc(HookCodes::Action, InputEvent{message, key});
  }
  void KeyDown(std::uint32_t key) { Send(InputMessages::KeyDown, key); }
  void KeyUp(std::uint32_t key) { Send(InputMessages::KeyUp, key); }
};

// Its install failures leave the last error alone.
class FakeWindowEventSource : public FakeSource<WindowEventSource, WindowEventSink> {
 public:
  FakeWindowEventSource() : FakeSource(0, 0x57) {}
  void Send(std::uint32_t event) {
    if (sink) sink->WinEventProc(event);
  }
};

// The services a recorder runs on; the tests pick the timers, pointer and
// last-error source (fake or real) and what a shot does.
inline Recorder::Services RecorderServices(TimerService& timers, TrayState& tray,
                                           MessageBoxService& boxes, WindowSystem& windows,
                                           LastErrorSource& lastError,
                                           std::function<void()> takeShot) {
  Recorder::Services s;
  s.Timers = &timers;
  s.Tray = &tray;
  s.Boxes = &boxes;
  s.Windows = &windows;
  s.LastError = &lastError;
  s.TakeShot = std::move(takeShot);
  return s;
}

}  // namespace framory::testing
