#include "platform/x11/X11ScreenChanges.h"

#include <X11/extensions/Xfixes.h>

#include "platform/x11/X11ErrorTrap.h"

namespace framory {

X11ScreenChanges::X11ScreenChanges(X11Connection& connection, SocketWatch& watch)
    : connection_(connection), watch_(watch) {
  if (!connection_.Valid()) return;
  Display* display = connection_.display();
  int damageErrorBase = 0;
  int fixesErrorBase = 0;
  if (!XDamageQueryExtension(display, &damageEventBase_, &damageErrorBase) ||
      !XFixesQueryExtension(display, &fixesEventBase_, &fixesErrorBase)) {
    return;
  }
  // Each extension must hear the client's version before its requests are
  // accepted; cursor notifications need XFixes 2.
  int major = 0;
  int minor = 0;
  if (!XDamageQueryVersion(display, &major, &minor) || major < 1) return;
  if (!XFixesQueryVersion(display, &major, &minor) || major < 2) return;
  X11ErrorTrap trap(display);
  // NonEmpty: one event when the root's damage region stops being empty;
  // the region itself is fetched and emptied only when a decision needs it,
  // so a busy screen sends one event per frame, not one per drawing.
  damage_ = XDamageCreate(display, connection_.root(), XDamageReportNonEmpty);
  XFixesSelectCursorInput(display, connection_.root(), XFixesDisplayCursorNotifyMask);
  XSync(display, False);
  if (trap.Failed()) {
    damage_ = 0;
    return;
  }
  fd_ = ConnectionNumber(display);
  watch_.Watch(fd_, [this] { ReadEvents(); });
}

X11ScreenChanges::~X11ScreenChanges() { Stop(); }

void X11ScreenChanges::Stop() {
  if (fd_ >= 0) {
    watch_.Unwatch(fd_);
    fd_ = -1;
  }
  if (damage_ != 0 && connection_.Alive()) {
    X11ErrorTrap trap(connection_.display());
    XDamageDestroy(connection_.display(), damage_);
    XFixesSelectCursorInput(connection_.display(), connection_.root(), 0);
    XSync(connection_.display(), False);
    trap.Failed();
  }
  damage_ = 0;
}

void X11ScreenChanges::ReadEvents() {
  if (damage_ == 0) return;
  Display* display = connection_.display();
  if (!connection_.Alive()) {
    Stop();
    return;
  }
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == damageEventBase_ + XDamageNotify) {
      damagePending_ = true;
    } else if (event.type == fixesEventBase_ + XFixesCursorNotify) {
      log_.CursorImageChanged();
    }
  }
}

void X11ScreenChanges::ProcessPending() {
  ReadEvents();
  if (damage_ == 0 || !damagePending_) return;
  Display* display = connection_.display();
  damagePending_ = false;
  X11ErrorTrap trap(display);
  XserverRegion parts = XFixesCreateRegion(display, nullptr, 0);
  XDamageSubtract(display, damage_, None, parts);
  int count = 0;
  XRectangle* rects = XFixesFetchRegion(display, parts, &count);
  for (int i = 0; rects != nullptr && i < count; ++i) {
    log_.AddDamage(
        Rect{rects[i].x, rects[i].y, rects[i].x + rects[i].width, rects[i].y + rects[i].height});
  }
  if (rects != nullptr) XFree(rects);
  XFixesDestroyRegion(display, parts);
  if (trap.Failed()) {
    // The region could not be read: count the whole screen as changed.
    log_.AddDamage(Rect{-0x7FFF, -0x7FFF, 0x7FFF, 0x7FFF});
  }
}

bool X11ScreenChanges::Unchanged(const ShotView& view) {
  if (damage_ == 0 || !log_.HasFrame()) return false;
  if (!connection_.Alive()) {
    Stop();
    return false;
  }
  // Everything drawn before this moment has had its event sent by now; the
  // round trip brings it in, including events Xlib had already read off the
  // socket without the event loop seeing them.
  XSync(connection_.display(), False);
  ProcessPending();
  return damage_ != 0 && log_.Unchanged(view);
}

bool X11ScreenChanges::FrameTaken(const ShotView& view, std::vector<Rect>* drawn) {
  if (damage_ == 0 || !connection_.Alive()) return false;
  // Called just before the grab. No round trip here: what the server has
  // not reported yet was drawn before the grab (and is in its pixels) or
  // after it, and is counted against the next frame either way, which at
  // worst reads a part again. The decision just before (Unchanged) has
  // already brought in everything sent until then.
  ProcessPending();
  // The connection may have gone meanwhile.
  const bool known = damage_ != 0 && log_.DrawnSince(view.ScreenRect, drawn);
  log_.FrameTaken(view);
  return known;
}

void X11ScreenChanges::Forget() { log_.Forget(); }

}  // namespace framory
