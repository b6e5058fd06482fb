#include "platform/x11/X11WindowEvents.h"

#include <X11/Xatom.h>
#include <unistd.h>

#include <cerrno>

#include "base/LastError.h"
#include "platform/x11/X11ErrorTrap.h"

namespace framory {
namespace {

constexpr long kIconicState = 3;
constexpr long kNormalState = 1;

}  // namespace

X11WindowEvents::X11WindowEvents(SocketWatch& watch, std::string displayName)
    : watch_(watch), displayName_(std::move(displayName)) {}

X11WindowEvents::~X11WindowEvents() {
  sink_ = nullptr;
  Teardown();
}

void X11WindowEvents::AddOwnClient(unsigned long idBase, unsigned long idMask) {
  ownRanges_.emplace_back(idBase, idMask);
}

bool X11WindowEvents::Install(WindowEventSink& sink) {
  if (sink_ != nullptr) return true;
  connection_ = std::make_unique<X11Connection>(displayName_);
  if (!connection_->Valid()) {
    Teardown();
    SetLastError(ECONNREFUSED);
    return false;
  }
  Display* display = connection_->display();
  activeWindow_ = connection_->Intern("_NET_ACTIVE_WINDOW");
  netWmName_ = connection_->Intern("_NET_WM_NAME");
  wmState_ = connection_->Intern("WM_STATE");
  netWmPid_ = connection_->Intern("_NET_WM_PID");
  {
    X11ErrorTrap trap(display);
    XSelectInput(display, connection_->root(), SubstructureNotifyMask | PropertyChangeMask);
    if (trap.Failed()) {
      const int code = trap.ErrorCode();
      Teardown();
      SetLastError(code > 0 ? static_cast<std::uint32_t>(code) : EPIPE);
      return false;
    }
  }
  // Follow names and minimise state of the clients already on the screen.
  Window rootReturn = None;
  Window parent = None;
  Window* children = nullptr;
  unsigned count = 0;
  {
    X11ErrorTrap trap(display);
    if (XQueryTree(display, connection_->root(), &rootReturn, &parent, &children, &count) &&
        children != nullptr) {
      for (unsigned i = 0; i < count; ++i) FollowClient(children[i]);
      XFree(children);
    }
    trap.Failed();
  }
  sink_ = &sink;
  fd_ = ConnectionNumber(display);
  watch_.Watch(fd_, [this] { ProcessPending(); });
  ProcessPending();
  return true;
}

bool X11WindowEvents::Remove() {
  sink_ = nullptr;
  const bool ok = connection_ == nullptr || connection_->Alive();
  if (!ok) SetLastError(EPIPE);
  Teardown();
  return ok;
}

void X11WindowEvents::Teardown() {
  if (fd_ >= 0) {
    watch_.Unwatch(fd_);
    fd_ = -1;
  }
  connection_.reset();
  overrideRedirect_.clear();
  iconic_.clear();
  followed_.clear();
  geometry_.clear();
  ownFrames_.clear();
}

void X11WindowEvents::ProcessPending() {
  if (!connection_ || reading_) return;
  Display* display = connection_->display();
  std::vector<std::uint32_t> events;
  reading_ = true;
  while (connection_->Alive() && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    Translate(event, &events);
  }
  reading_ = false;
  const bool lost = !connection_->Alive();
  for (std::uint32_t number : events) {
    if (sink_ == nullptr) break;
    sink_->WinEventProc(number);
  }
  // A broken connection only ends the window events; nothing to report.
  if (lost && connection_) {
    sink_ = nullptr;
    Teardown();
  }
}

void X11WindowEvents::Translate(const XEvent& event, std::vector<std::uint32_t>* out) {
  using namespace WinEvents;
  switch (event.type) {
    case CreateNotify: {
      const XCreateWindowEvent& e = event.xcreatewindow;
      if (InOwnRange(e.window)) return;
      if (e.override_redirect) overrideRedirect_.insert(e.window);
      geometry_[e.window] = {e.x, e.y, e.width, e.height, e.border_width};
      out->push_back(ObjectCreate);
      return;
    }
    case DestroyNotify: {
      const Window window = event.xdestroywindow.window;
      const bool own = IsOwnTopLevel(window);
      Forget(window);
      if (!own) out->push_back(ObjectDestroy);
      return;
    }
    case ReparentNotify: {
      // A window manager takes one of our windows into its frame: from now on
      // the frame's moves, restacking, unmapping and destruction are ours.
      const XReparentEvent& e = event.xreparent;
      if (e.parent != connection_->root() && IsOwnTopLevel(e.window)) ownFrames_.insert(e.parent);
      return;
    }
    case MapNotify: {
      const XMapEvent& e = event.xmap;
      if (e.event != connection_->root()) return;
      if (IsOwnTopLevel(e.window) || BelongsToThisProcess(e.window)) {
        ownFrames_.insert(e.window);
        return;
      }
      if (e.override_redirect) {
        overrideRedirect_.insert(e.window);
        out->push_back(SystemMenuPopupStart);
      } else {
        FollowClient(e.window);
        out->push_back(ObjectShow);
      }
      return;
    }
    case UnmapNotify: {
      const XUnmapEvent& e = event.xunmap;
      if (e.event != connection_->root() || IsOwnTopLevel(e.window)) return;
      out->push_back(overrideRedirect_.count(e.window) ? SystemMenuPopupEnd : ObjectHide);
      return;
    }
    case ConfigureNotify: {
      const XConfigureEvent& e = event.xconfigure;
      if (e.event != connection_->root() || IsOwnTopLevel(e.window)) return;
      const Geometry now{e.x, e.y, e.width, e.height, e.border_width};
      auto known = geometry_.find(e.window);
      const bool moved = known == geometry_.end() || !(known->second == now);
      geometry_[e.window] = now;
      out->push_back(moved ? ObjectLocationChange : ObjectReorder);
      return;
    }
    case CirculateNotify:
      if (!IsOwnTopLevel(event.xcirculate.window)) out->push_back(ObjectReorder);
      return;
    case PropertyNotify: {
      const XPropertyEvent& e = event.xproperty;
      if (e.window == connection_->root()) {
        if (e.atom == activeWindow_ && ActiveWindowIsForeign()) out->push_back(SystemForeground);
        return;
      }
      if (e.atom == XA_WM_NAME || e.atom == netWmName_) {
        if (!BelongsToThisProcess(e.window)) out->push_back(ObjectNameChange);
        return;
      }
      if (e.atom == wmState_ && e.state == PropertyNewValue) {
        long state = -1;
        // Nothing is read when the window vanished meanwhile.
        if (!connection_->ReadLongs(e.window, wmState_, wmState_, &state, 1)) return;
        if (state == kIconicState) {
          iconic_.insert(e.window);
        } else if (state == kNormalState && iconic_.erase(e.window) > 0 &&
                   !BelongsToThisProcess(e.window)) {
          out->push_back(SystemMinimizeEnd);
        }
      }
      return;
    }
    default:
      return;
  }
}

bool X11WindowEvents::IsOwnTopLevel(Window window) const {
  return InOwnRange(window) || ownFrames_.count(window) != 0;
}

bool X11WindowEvents::ActiveWindowIsForeign() {
  // Our own window becoming the active one is not an outside event. Neither
  // is "no active window": window managers pass through it for a moment while
  // focus moves from one window to the next (even between two of ours), and
  // the window that then becomes active gives its own event.
  long active = None;
  if (!connection_->ReadLongs(connection_->root(), activeWindow_, XA_WINDOW, &active, 1) ||
      active == None) {
    return false;
  }
  const Window window = static_cast<Window>(active);
  return !IsOwnTopLevel(window) && !BelongsToThisProcess(window);
}

bool X11WindowEvents::InOwnRange(Window window) const {
  for (const auto& [base, mask] : ownRanges_) {
    if ((window & ~mask) == base) return true;
  }
  return false;
}

bool X11WindowEvents::HasOurPid(Window window) {
  long pid = 0;
  return connection_->ReadLongs(window, netWmPid_, XA_CARDINAL, &pid, 1) &&
         static_cast<pid_t>(pid) == getpid();
}

bool X11WindowEvents::BelongsToThisProcess(Window window) {
  if (!connection_ || !connection_->Alive()) return false;
  if (InOwnRange(window) || HasOurPid(window)) return true;
  const Window client = ClientOf(window);
  return client != None && client != window && (InOwnRange(client) || HasOurPid(client));
}

Window X11WindowEvents::ClientOf(Window window) {
  // The client is the window carrying WM_STATE: the top-level itself, or a
  // child of the window manager's frame. A window that vanishes meanwhile has
  // none.
  X11ErrorTrap trap(connection_->display());
  Window client = connection_->HasProperty(window, wmState_) ? window : None;
  Window rootReturn = None;
  Window parent = None;
  Window* children = nullptr;
  unsigned count = 0;
  if (client == None &&
      XQueryTree(connection_->display(), window, &rootReturn, &parent, &children, &count) &&
      children) {
    for (unsigned i = 0; i < count && client == None; ++i) {
      if (connection_->HasProperty(children[i], wmState_)) client = children[i];
    }
    XFree(children);
  }
  if (trap.Failed()) return None;
  return client;
}

void X11WindowEvents::FollowClient(Window topLevel) {
  const Window client = ClientOf(topLevel);
  if (client == None || followed_.count(client) != 0) return;
  Display* display = connection_->display();
  X11ErrorTrap trap(display);
  XSelectInput(display, client, PropertyChangeMask);
  if (!trap.Failed()) followed_.insert(client);
}

void X11WindowEvents::Forget(Window window) {
  overrideRedirect_.erase(window);
  iconic_.erase(window);
  followed_.erase(window);
  geometry_.erase(window);
  ownFrames_.erase(window);
}

}  // namespace framory
