// Decides, before every shot, which part of the screen becomes the frame: the
// whole screen, the foreground window, its top-level owner, its client area,
// or the user-marked area. Also resizes the captured window (once) to a fixed
// size or to the movie's size, in which case no frame is taken now.
#pragma once

#include <cstdint>

#include "base/Geometry.h"
#include "base/Settings.h"
#include "capture/CaptureLinks.h"
#include "capture/WindowSystem.h"

namespace framory {

// What the camera is focused on: the five exclusive choices of the options
// view. The settings keep them as five flags ("Inner Window" is
// UseForegrounWindow together with UseForegrounWindowInside); the code that
// decides reads this one value instead.
enum class CaptureFocus { Desktop, MainWindow, ForegroundWindow, InnerWindow, Area };

// The choice the five flags hold. A store edited by hand may hold several at
// once; then the whole screen wins over the area, the area over a window, and
// the client area over the whole window, the main window over the foreground
// window. UseForegrounWindowInside alone, or no flag at all, is the whole
// screen.
CaptureFocus CaptureFocusOf(const Settings& settings);
// Writes all five flags for `focus`.
void SetCaptureFocus(Settings& settings, CaptureFocus focus);

// The region of one shot.
struct CaptureRegion {
  // The window whose pixels are read: the desktop for every target but the
  // client area, where it is the target window itself.
  WindowHandle SourceWindow = kNoWindow;
  // The window whose palette is used on palette displays.
  WindowHandle PaletteWindow = kNoWindow;
  // Pixel of the source that becomes the frame's top-left pixel.
  Point SourceOrigin;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  // The pointer's hot spot relative to the region's top-left pixel.
  Point CursorPosition;
  // The region on the screen, handed to the encoder session.
  Rect ScreenRect;
};

struct CaptureDecision {
  // A window was resized instead; no frame is to be taken on this shot.
  bool ResizedNoFrame = false;
  CaptureRegion Region;
};

class CaptureTarget {
 public:
  CaptureTarget(const Settings& settings, WindowSystem& windows, const CaptureLinks& links);

  CaptureDecision ComputeCaptureRegion();
  // Lets the next shot resize a window again.
  void ForgetResizedWindow() { lastResizedWindow_ = kNoWindow; }

  WindowHandle LastTargetWindow() const { return lastTargetWindow_; }
  WindowHandle LastResizedWindow() const { return lastResizedWindow_; }

 private:
  // Returns true when the candidate was resized and the shot is to be skipped.
  bool ResizeIfRequested(WindowHandle candidate);
  // False when the window cannot be examined any more. `clientArea` takes the
  // window's client area instead of the whole window.
  bool WindowRegion(WindowHandle candidate, bool clientArea, CaptureRegion* region);
  void AreaRegion(CaptureRegion* region);
  void ScreenRegion(CaptureRegion* region);

  const Settings& settings_;
  WindowSystem& windows_;
  const CaptureLinks& links_;
  WindowHandle lastTargetWindow_ = kNoWindow;
  WindowHandle lastResizedWindow_ = kNoWindow;
};

}  // namespace framory
