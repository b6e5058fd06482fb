// Screen changes seen through the X DAMAGE extension (what was drawn on the
// root window, which includes every window shown) and XFixes cursor
// notifications (the pointer's image), on the screen grabber's own
// connection. The connection's socket is served by the GUI thread's event
// loop, so events are read as they come, with no extra thread or polling;
// before a decision, one round trip makes sure every event the server sent
// until then has been read. Without DAMAGE or XFixes nothing is ever
// reported unchanged and capture works as if this did not exist.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include "base/SocketWatch.h"
#include "capture/ScreenChangeLog.h"
#include "capture/ScreenChangeWatch.h"
#include "platform/x11/X11Connection.h"

namespace framory {

class X11ScreenChanges : public ScreenChangeWatch {
 public:
  X11ScreenChanges(X11Connection& connection, SocketWatch& watch);
  ~X11ScreenChanges() override;
  X11ScreenChanges(const X11ScreenChanges&) = delete;
  X11ScreenChanges& operator=(const X11ScreenChanges&) = delete;

  // False when the display lacks DAMAGE or XFixes cursor events.
  bool Tracking() const { return damage_ != 0; }

  bool Unchanged(const ShotView& view) override;
  bool FrameTaken(const ShotView& view, std::vector<Rect>* drawn) override;
  void Forget() override;

 private:
  // Reads every event Xlib holds or the socket has. Served by the event
  // loop: it only notes that the damage region is no longer empty, so a
  // busy screen costs one wake-up a frame and no round trip.
  void ReadEvents();
  // ReadEvents, then moves the reported damage into the log (one round
  // trip when there is any).
  void ProcessPending();
  void Stop();

  X11Connection& connection_;
  SocketWatch& watch_;
  int fd_ = -1;
  Damage damage_ = 0;
  int damageEventBase_ = 0;
  int fixesEventBase_ = 0;
  // The server said the damage region is no longer empty; it is fetched
  // (and emptied) before the next decision.
  bool damagePending_ = false;
  ScreenChangeLog log_;
};

}  // namespace framory
