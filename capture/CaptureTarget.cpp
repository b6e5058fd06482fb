#include "capture/CaptureTarget.h"

#include <algorithm>
#include <limits>

namespace framory {

namespace {

std::int32_t Saturate(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Pixels from `from` to `to`, both included.
std::int32_t Span(std::int32_t from, std::int32_t to) {
  return Saturate(std::int64_t{to} - from + 1);
}

std::int32_t Offset(std::int32_t position, std::int32_t origin) {
  return Saturate(std::int64_t{position} - origin);
}

}  // namespace

CaptureFocus CaptureFocusOf(const Settings& settings) {
  if (settings.UseDesktopWindow()) return CaptureFocus::Desktop;
  if (settings.UseArea()) return CaptureFocus::Area;
  const bool window = settings.UseForegrounWindow() || settings.UseMainAppWindow();
  if (!window) return CaptureFocus::Desktop;
  if (settings.UseForegrounWindowInside()) return CaptureFocus::InnerWindow;
  return settings.UseMainAppWindow() ? CaptureFocus::MainWindow : CaptureFocus::ForegroundWindow;
}

void SetCaptureFocus(Settings& settings, CaptureFocus focus) {
  settings.SetUseDesktopWindow(focus == CaptureFocus::Desktop);
  settings.SetUseMainAppWindow(focus == CaptureFocus::MainWindow);
  settings.SetUseForegrounWindow(focus == CaptureFocus::ForegroundWindow ||
                                 focus == CaptureFocus::InnerWindow);
  settings.SetUseForegrounWindowInside(focus == CaptureFocus::InnerWindow);
  settings.SetUseArea(focus == CaptureFocus::Area);
}

CaptureTarget::CaptureTarget(const Settings& settings, WindowSystem& windows,
                             const CaptureLinks& links)
    : settings_(settings), windows_(windows), links_(links) {}

CaptureDecision CaptureTarget::ComputeCaptureRegion() {
  CaptureDecision decision;
  CaptureRegion& region = decision.Region;
  bool chosen = false;
  const CaptureFocus focus = CaptureFocusOf(settings_);

  // Window targets: the foreground window, or the top-level window that owns
  // it, or that window's client area.
  if (focus == CaptureFocus::MainWindow || focus == CaptureFocus::ForegroundWindow ||
      focus == CaptureFocus::InnerWindow) {
    WindowHandle candidate = windows_.ForegroundWindow();
    if (focus == CaptureFocus::MainWindow && candidate != kNoWindow) {
      // "Main Window" captures the application even when one of its dialogs
      // is in front.
      WindowHandle owner = windows_.RootOwner(candidate);
      if (owner != kNoWindow && windows_.IsWindowVisible(owner)) candidate = owner;
    }
    const bool commentAlone =
        links_.Comment != nullptr && links_.Comment->AllowCommentWindowAlone();
    if (!commentAlone) {
      // Clicking into the comment window does not move the recording's
      // focus. With no comment window open, an absent foreground window
      // matches too and the previous target is kept.
      const WindowHandle comment =
          links_.Comment != nullptr ? links_.Comment->CommentWindow() : kNoWindow;
      if (candidate == comment && lastTargetWindow_ != kNoWindow &&
          windows_.IsWindow(lastTargetWindow_)) {
        candidate = lastTargetWindow_;
      }
    }
    if (ResizeIfRequested(candidate)) {
      decision.ResizedNoFrame = true;
      return decision;
    }
    if (candidate != kNoWindow) {
      lastTargetWindow_ = candidate;
      chosen = WindowRegion(candidate, focus == CaptureFocus::InnerWindow, &region);
    }
  }

  // The user-marked area, once one has been marked.
  if (focus == CaptureFocus::Area && settings_.HasMarkUserArea()) {
    AreaRegion(&region);
    chosen = true;
  }

  // The whole primary screen: chosen as such, or nothing else could be taken.
  if (!chosen) ScreenRegion(&region);
  return decision;
}

bool CaptureTarget::ResizeIfRequested(WindowHandle candidate) {
  const bool clipSize =
      links_.Clip != nullptr && links_.Clip->ClipOpen() && settings_.SizeWindowToMovieSize();
  const bool fixedSize = settings_.ResizeFGWindow() && candidate != kNoWindow;
  if (!clipSize && !fixedSize) return false;

  std::int32_t wantedWidth = settings_.ResizeFGWindowX();
  std::int32_t wantedHeight = settings_.ResizeFGWindowY();
  if (clipSize) {
    wantedWidth = links_.Clip->MovieWidth();
    wantedHeight = links_.Clip->MovieHeight();
  }

  Rect windowRect, clientRect;
  if (candidate == kNoWindow || !windows_.GetWindowInfo(candidate, &windowRect, &clientRect)) {
    return false;
  }
  if (wantedWidth <= 0 || wantedHeight <= 0) return false;
  if (windowRect.right - windowRect.left == wantedWidth &&
      windowRect.bottom - windowRect.top == wantedHeight) {
    return false;
  }
  if (candidate == lastResizedWindow_) return false;
  if (links_.Dialog != nullptr && candidate == links_.Dialog->DialogWindow()) return false;

  // The window gets its new size now and is captured at that size by the next
  // shot: 100 ms later through the delayed-shot timer, or at the periodic
  // timer's next tick when that runs.
  windows_.SetOuterSize(candidate, wantedWidth, wantedHeight);
  lastResizedWindow_ = candidate;
  const bool periodic = links_.Scheduler != nullptr && links_.Scheduler->PeriodicTimerRunning();
  if (!periodic && links_.Scheduler != nullptr) links_.Scheduler->ScheduleDelayedShot(100);
  return true;
}

bool CaptureTarget::WindowRegion(WindowHandle candidate, bool clientArea, CaptureRegion* region) {
  Rect windowRect, clientRect;
  if (!windows_.GetWindowInfo(candidate, &windowRect, &clientRect)) {
    // The window vanished between the calls: fall back to the whole screen.
    return false;
  }
  const Point pointer = windows_.CursorPos();
  region->PaletteWindow = candidate;
  if (clientArea) {
    Point origin;
    if (!windows_.ClientOrigin(candidate, &origin)) return false;
    region->Width = clientRect.right - clientRect.left;
    region->Height = clientRect.bottom - clientRect.top;
    region->SourceWindow = candidate;
    region->SourceOrigin = Point{0, 0};
    region->CursorPosition = Point{pointer.x - origin.x, pointer.y - origin.y};
    region->ScreenRect =
        Rect{origin.x, origin.y, origin.x + region->Width, origin.y + region->Height};
  } else {
    region->Width = windowRect.right - windowRect.left;
    region->Height = windowRect.bottom - windowRect.top;
    region->SourceWindow = windows_.DesktopWindow();
    region->SourceOrigin = Point{windowRect.left, windowRect.top};
    region->CursorPosition = Point{pointer.x - windowRect.left, pointer.y - windowRect.top};
    region->ScreenRect = windowRect;
  }
  return true;
}

void CaptureTarget::AreaRegion(CaptureRegion* region) {
  const Rect& area = settings_.UserArea();
  const Point pointer = windows_.CursorPos();
  const WindowHandle desktop = windows_.DesktopWindow();
  // Both corners are pixels inside the area. Computed wide and saturated:
  // corners far apart (a hand-edited store) must not wrap round to a small
  // or negative size; the grab then refuses what the screen cannot give.
  region->Width = Span(area.left, area.right);
  region->Height = Span(area.top, area.bottom);
  region->SourceWindow = desktop;
  region->PaletteWindow = desktop;
  lastTargetWindow_ = desktop;
  region->SourceOrigin = Point{area.left, area.top};
  region->ScreenRect = area;
  region->CursorPosition = Point{Offset(pointer.x, area.left), Offset(pointer.y, area.top)};
}

void CaptureTarget::ScreenRegion(CaptureRegion* region) {
  const WindowHandle desktop = windows_.DesktopWindow();
  region->Width = windows_.ScreenWidth();
  region->Height = windows_.ScreenHeight();
  region->SourceWindow = desktop;
  region->PaletteWindow = desktop;
  lastTargetWindow_ = desktop;
  region->SourceOrigin = Point{0, 0};
  region->ScreenRect = Rect{0, 0, region->Width, region->Height};
  region->CursorPosition = windows_.CursorPos();
}

}  // namespace framory
