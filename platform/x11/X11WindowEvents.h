// System-wide window events over X: SubstructureNotify and PropertyNotify on
// the root window (plus PropertyNotify on each top-level client for names and
// minimise state), mapped onto the classic window-event numbers:
//   active window change (_NET_ACTIVE_WINDOW)  0x0003
//   create / destroy / map / unmap              0x8000 0x8001 0x8002 0x8003
//   restack (ConfigureNotify without geometry change, CirculateNotify) 0x8004
//   move or resize                              0x800B
//   name change (WM_NAME, _NET_WM_NAME)         0x800C
//   override-redirect (menu) map / unmap        0x0006 0x0007
//   end of minimise (WM_STATE Iconic -> Normal) 0x0017
// Windows of this process are left out: those carrying our _NET_WM_PID
// (directly or on the client inside a window manager frame), those whose id
// lies in a client range registered with AddOwnClient (a freshly created
// window has no properties yet, so the id is the only clue), and the frames a
// window manager puts around them (known from the reparenting, or from the
// client found at the map). The active window changing to one of ours, or to
// none, is left out too. A frame is created empty, before anything ties it to us, so its
// creation alone still counts.
//
// Served like X11InputRecorder: its own connection, whose socket the GUI
// event loop watches; events are read first and delivered afterwards.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/SocketWatch.h"
#include "capture/WindowEventSource.h"
#include "platform/x11/X11Connection.h"

namespace framory {

class X11WindowEvents : public WindowEventSource {
 public:
  explicit X11WindowEvents(SocketWatch& watch, std::string displayName = {});
  ~X11WindowEvents() override;
  X11WindowEvents(const X11WindowEvents&) = delete;
  X11WindowEvents& operator=(const X11WindowEvents&) = delete;

  bool Install(WindowEventSink& sink) override;
  bool Remove() override;

  bool Installed() const { return sink_ != nullptr; }
  int ConnectionFd() const { return fd_; }
  void ProcessPending();

  // Windows with (id & ~idMask) == idBase belong to this process (for Qt's
  // connection: the resource id base and mask of its xcb setup).
  void AddOwnClient(unsigned long idBase, unsigned long idMask);
  // Whether `window` belongs to this process. A window that vanished while
  // being examined does not.
  bool BelongsToThisProcess(Window window);

 private:
  struct Geometry {
    int x, y, width, height, border;
    friend bool operator==(const Geometry&, const Geometry&) = default;
  };

  void Translate(const XEvent& event, std::vector<std::uint32_t>* out);
  bool InOwnRange(Window window) const;
  // One of our top-level windows or a known frame around one.
  bool IsOwnTopLevel(Window window) const;
  // The active window is now a window of another process.
  bool ActiveWindowIsForeign();
  bool HasOurPid(Window window);
  Window ClientOf(Window window);
  void FollowClient(Window topLevel);
  void Forget(Window window);
  void Teardown();

  SocketWatch& watch_;
  std::string displayName_;
  std::unique_ptr<X11Connection> connection_;
  int fd_ = -1;
  WindowEventSink* sink_ = nullptr;
  bool reading_ = false;
  std::vector<std::pair<unsigned long, unsigned long>> ownRanges_;
  std::set<Window> overrideRedirect_;
  std::set<Window> iconic_;
  std::set<Window> followed_;
  std::map<Window, Geometry> geometry_;
  std::set<Window> ownFrames_;
  Atom activeWindow_ = None;
  Atom netWmName_ = None;
  Atom wmState_ = None;
  Atom netWmPid_ = None;
};

}  // namespace framory
