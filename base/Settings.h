// The one settings record of the recorder: every user choice, with the
// built-in defaults. Loading and saving live in app/SettingsStore.h.
#pragma once

#include <cstdint>
#include <string>

#include "base/Geometry.h"
#include "base/OutputType.h"

namespace framory {

// The ranges loaded settings are brought into (the values the dialogs give).
struct SettingsLimits {
  // The options view's smallest capture period.
  static constexpr std::int32_t kMinTimerValue = 10;
  // The largest movie side: the largest multiple of 4 below 8192, the first
  // size FFmpeg's MPEG-4 encoders refuse. Larger windows are not resized to.
  static constexpr std::int32_t kMaxResizeSide = 8188;
  // X screen coordinates are 16-bit signed numbers.
  static constexpr std::int32_t kMinScreenCoordinate = -32768;
  static constexpr std::int32_t kMaxScreenCoordinate = 32767;
};

class Settings {
 public:
  // Capture triggers.
  bool TakeShotOnPrintScreen() const { return takeShotOnPrintScreen_; }
  void SetTakeShotOnPrintScreen(bool v) { takeShotOnPrintScreen_ = v; }
  bool TakeShotOnClick() const { return takeShotOnClick_; }
  void SetTakeShotOnClick(bool v) { takeShotOnClick_ = v; }
  bool TakeShotOnWinEvent() const { return takeShotOnWinEvent_; }
  void SetTakeShotOnWinEvent(bool v) { takeShotOnWinEvent_ = v; }
  bool TakeShotOnKey() const { return takeShotOnKey_; }
  void SetTakeShotOnKey(bool v) { takeShotOnKey_ = v; }
  bool TakeShotOnTimer() const { return takeShotOnTimer_; }
  void SetTakeShotOnTimer(bool v) { takeShotOnTimer_ = v; }
  // Loaded and saved only; no dialog changes it.
  bool TakeShotOnAuto() const { return takeShotOnAuto_; }
  void SetTakeShotOnAuto(bool v) { takeShotOnAuto_ = v; }

  bool RestoreMouse() const { return restoreMouse_; }
  void SetRestoreMouse(bool v) { restoreMouse_ = v; }
  bool RecordSound() const { return recordSound_; }
  void SetRecordSound(bool v) { recordSound_ = v; }

  // Capture target.
  bool UseDesktopWindow() const { return useDesktopWindow_; }
  void SetUseDesktopWindow(bool v) { useDesktopWindow_ = v; }
  bool UseMainAppWindow() const { return useMainAppWindow_; }
  void SetUseMainAppWindow(bool v) { useMainAppWindow_ = v; }
  bool UseForegrounWindow() const { return useForegrounWindow_; }
  void SetUseForegrounWindow(bool v) { useForegrounWindow_ = v; }
  bool UseForegrounWindowInside() const { return useForegrounWindowInside_; }
  void SetUseForegrounWindowInside(bool v) { useForegrounWindowInside_ = v; }
  bool UseArea() const { return useArea_; }
  void SetUseArea(bool v) { useArea_ = v; }

  bool PutCursorInBitmap() const { return putCursorInBitmap_; }
  void SetPutCursorInBitmap(bool v) { putCursorInBitmap_ = v; }
  bool ResizeFGWindow() const { return resizeFGWindow_; }
  void SetResizeFGWindow(bool v) { resizeFGWindow_ = v; }
  bool SizeWindowToMovieSize() const { return sizeWindowToMovieSize_; }
  void SetSizeWindowToMovieSize(bool v) { sizeWindowToMovieSize_ = v; }

  // The area-marked flag: a user area has been marked. Saved under the name
  // HasMarkUserArea.
  bool HasMarkUserArea() const { return hasMarkUserArea_; }
  void SetHasMarkUserArea(bool v) { hasMarkUserArea_ = v; }
  // The marked area, corners as inclusive screen pixels.
  const Rect& UserArea() const { return userArea_; }
  void SetUserArea(const Rect& r) { userArea_ = r; }
  std::int32_t UserAreaLeft() const { return userArea_.left; }
  void SetUserAreaLeft(std::int32_t v) { userArea_.left = v; }
  std::int32_t UserAreaTop() const { return userArea_.top; }
  void SetUserAreaTop(std::int32_t v) { userArea_.top = v; }
  std::int32_t UserAreaRight() const { return userArea_.right; }
  void SetUserAreaRight(std::int32_t v) { userArea_.right = v; }
  std::int32_t UserAreaBottom() const { return userArea_.bottom; }
  void SetUserAreaBottom(std::int32_t v) { userArea_.bottom = v; }

  std::int32_t ResizeFGWindowX() const { return resizeFGWindowX_; }
  void SetResizeFGWindowX(std::int32_t v) { resizeFGWindowX_ = v; }
  std::int32_t ResizeFGWindowY() const { return resizeFGWindowY_; }
  void SetResizeFGWindowY(std::int32_t v) { resizeFGWindowY_ = v; }
  std::int32_t OutputType() const { return outputType_; }
  void SetOutputType(std::int32_t v) { outputType_ = v; }
  // Capture period in milliseconds; also the frame period of movies.
  std::int32_t TimerValue() const { return timerValue_; }
  void SetTimerValue(std::int32_t v) { timerValue_ = v; }

  const std::string& ProjectDirectory() const { return projectDirectory_; }
  void SetProjectDirectory(std::string v) { projectDirectory_ = std::move(v); }
  const std::string& ProjectName() const { return projectName_; }
  void SetProjectName(std::string v) { projectName_ = std::move(v); }

  // The Ctrl-then-Shift chord toggles the recorder only when both keys are
  // released with no other key pressed in between (so Ctrl+Shift+T in
  // another program does not). Off: it toggles as Shift goes down.
  bool BareChordOnly() const { return bareChordOnly_; }
  void SetBareChordOnly(bool v) { bareChordOnly_ = v; }

  // Where the sound of the MP4 and WebM clips comes from: 0 the microphone
  // (the default source), 1 the desktop's sound (the monitor of the default
  // sink), 2 both mixed.
  std::int32_t SoundSource() const { return soundSource_; }
  void SetSoundSource(std::int32_t v) { soundSource_ = v; }

  // The streaming server the broadcast to a server pushes to
  // (rtmp://host[:port]/app/key or srt://host:port?streamid=...). It holds
  // the stream key: it is stored only while RememberStreamServerAddress is on.
  const std::string& StreamServerAddress() const { return streamServerAddress_; }
  void SetStreamServerAddress(std::string v) { streamServerAddress_ = std::move(v); }
  bool RememberStreamServerAddress() const { return rememberStreamServerAddress_; }
  void SetRememberStreamServerAddress(bool v) { rememberStreamServerAddress_ = v; }

  // The screen-cast portal's newest restore token (each one is used once).
  const std::string& PortalRestoreToken() const { return portalRestoreToken_; }
  void SetPortalRestoreToken(std::string v) { portalRestoreToken_ = std::move(v); }

  // ProjectDirectory immediately followed by ProjectName; no separator is
  // added, so the directory normally ends with one.
  std::string ProjectFolder() const { return projectDirectory_ + projectName_; }

 private:
  bool takeShotOnPrintScreen_ = false;
  bool takeShotOnClick_ = false;
  bool takeShotOnWinEvent_ = false;
  bool takeShotOnKey_ = true;
  bool takeShotOnTimer_ = false;
  bool takeShotOnAuto_ = false;
  bool restoreMouse_ = true;
  bool recordSound_ = false;
  bool useDesktopWindow_ = false;
  bool useMainAppWindow_ = true;
  bool useForegrounWindow_ = false;
  bool useForegrounWindowInside_ = false;
  bool useArea_ = false;
  bool putCursorInBitmap_ = true;
  bool resizeFGWindow_ = false;
  bool sizeWindowToMovieSize_ = true;
  bool hasMarkUserArea_ = false;
  Rect userArea_{};
  std::int32_t resizeFGWindowX_ = 640;
  std::int32_t resizeFGWindowY_ = 480;
  std::int32_t outputType_ = OutputTypes::Bmp;
  std::int32_t timerValue_ = 100;
  std::string projectDirectory_;
  std::string projectName_ = "Project1";
  bool bareChordOnly_ = false;
  std::int32_t soundSource_ = 0;
  std::string streamServerAddress_;
  bool rememberStreamServerAddress_ = false;
  std::string portalRestoreToken_;
};

}  // namespace framory
