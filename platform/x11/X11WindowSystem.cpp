// Window queries over Xlib. A reparenting window manager puts each client
// window into a frame window of its own, a child of the root; the handles this
// class hands out and takes are the client windows (the ones carrying
// WM_STATE, as _NET_ACTIVE_WINDOW names them), and the outer rectangle adds
// the frame the manager draws around them.
#include "platform/x11/X11WindowSystem.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <vector>

#include "platform/x11/X11ErrorTrap.h"

namespace framory {
namespace {

// Owner chains and window trees are short; the limits only guard against
// loops a misbehaving client could build with WM_TRANSIENT_FOR.
constexpr int kMaxOwnerChain = 64;
constexpr int kMaxClientSearchDepth = 4;

}  // namespace

X11WindowSystem::X11WindowSystem(const std::string& displayName) : connection_(displayName) {
  if (!connection_.Valid()) return;
  netActiveWindow_ = connection_.Intern("_NET_ACTIVE_WINDOW");
  netFrameExtents_ = connection_.Intern("_NET_FRAME_EXTENTS");
  netSupportingWmCheck_ = connection_.Intern("_NET_SUPPORTING_WM_CHECK");
  wmState_ = connection_.Intern("WM_STATE");
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  randr_ = XRRQueryExtension(connection_.display(), &eventBase, &errorBase) &&
           XRRQueryVersion(connection_.display(), &major, &minor) &&
           (major > 1 || (major == 1 && minor >= 3));
  if (randr_) {
    randrEventBase_ = eventBase;
    XRRSelectInput(connection_.display(), connection_.root(),
                   RRScreenChangeNotifyMask | RROutputChangeNotifyMask | RRCrtcChangeNotifyMask);
  }
}

WindowHandle X11WindowSystem::DesktopWindow() { return connection_.root(); }

WindowHandle X11WindowSystem::ForegroundWindow() {
  if (!connection_.Alive()) return kNoWindow;
  Window root = connection_.root();
  // An EWMH window manager names the active window on the root; its check
  // window tells that it still runs (a stale property may outlive it).
  long check = 0;
  if (connection_.ReadLongs(root, netSupportingWmCheck_, XA_WINDOW, &check, 1) && check != 0 &&
      IsWindow(static_cast<WindowHandle>(check))) {
    long active = 0;
    if (connection_.ReadLongs(root, netActiveWindow_, XA_WINDOW, &active, 1)) {
      if (active == 0 || !IsWindow(static_cast<WindowHandle>(active))) return kNoWindow;
      return static_cast<WindowHandle>(active);
    }
  }
  Window focus = None;
  int revert = 0;
  {
    X11ErrorTrap trap(connection_.display());
    XGetInputFocus(connection_.display(), &focus, &revert);
    if (trap.Failed()) return kNoWindow;
  }
  if (focus == None || focus == PointerRoot || focus == root) return kNoWindow;
  Window client = ClientOf(focus);
  return client == None ? kNoWindow : static_cast<WindowHandle>(client);
}

WindowHandle X11WindowSystem::RootOwner(WindowHandle window) {
  if (!IsWindow(window)) return kNoWindow;
  Window current = static_cast<Window>(window);
  std::vector<Window> seen{current};
  for (int step = 0; step < kMaxOwnerChain; ++step) {
    Window owner = None;
    X11ErrorTrap trap(connection_.display());
    Status found = XGetTransientForHint(connection_.display(), current, &owner);
    if (trap.Failed()) return kNoWindow;
    // Some toolkits make group dialogs transient for the root: no owner then.
    if (!found || owner == None || owner == connection_.root() ||
        !IsWindow(static_cast<WindowHandle>(owner)))
      break;
    bool loop = false;
    for (Window w : seen) loop = loop || w == owner;
    if (loop) break;
    seen.push_back(owner);
    current = owner;
  }
  return static_cast<WindowHandle>(current);
}

bool X11WindowSystem::ReadAttributes(WindowHandle window, XWindowAttributes* attributes) {
  if (!connection_.Alive() || window == kNoWindow) return false;
  X11ErrorTrap trap(connection_.display());
  Status ok = XGetWindowAttributes(connection_.display(), static_cast<Window>(window), attributes);
  return !trap.Failed() && ok;
}

bool X11WindowSystem::IsWindowVisible(WindowHandle window) {
  XWindowAttributes attributes;
  return ReadAttributes(window, &attributes) && attributes.map_state == IsViewable;
}

bool X11WindowSystem::IsWindow(WindowHandle window) {
  XWindowAttributes attributes;
  return ReadAttributes(window, &attributes);
}

bool X11WindowSystem::GetWindowInfo(WindowHandle handle, Rect* windowRect, Rect* clientRect) {
  XWindowAttributes attributes;
  Point origin;
  if (!ReadAttributes(handle, &attributes) || !ClientOrigin(handle, &origin)) return false;
  Display* display = connection_.display();
  Window window = static_cast<Window>(handle);
  const int border = attributes.border_width;
  Rect outer{origin.x - border, origin.y - border, origin.x + attributes.width + border,
             origin.y + attributes.height + border};
  Extents extents;
  if (window == connection_.root()) {
    outer = Rect{0, 0, attributes.width, attributes.height};
  } else if (FrameExtents(window, &extents)) {
    outer.left -= extents.left;
    outer.top -= extents.top;
    outer.right += extents.right;
    outer.bottom += extents.bottom;
  } else if (connection_.HasProperty(window, wmState_)) {
    // A managed window without _NET_FRAME_EXTENTS: the manager's frame is the
    // ancestor that is a child of the root.
    Window frame = TopLevelAncestor(window);
    if (frame == None) return false;
    if (frame != window) {
      Window root = None;
      int x = 0, y = 0;
      unsigned width = 0, height = 0, frameBorder = 0, depth = 0;
      X11ErrorTrap trap(display);
      Status ok =
          XGetGeometry(display, frame, &root, &x, &y, &width, &height, &frameBorder, &depth);
      if (trap.Failed() || !ok) return false;
      const int total = static_cast<int>(2 * frameBorder);
      outer = Rect{x, y, x + static_cast<int>(width) + total, y + static_cast<int>(height) + total};
    }
  }
  if (windowRect != nullptr) *windowRect = outer;
  if (clientRect != nullptr) *clientRect = Rect{0, 0, attributes.width, attributes.height};
  return true;
}

bool X11WindowSystem::ClientOrigin(WindowHandle window, Point* origin) {
  if (!connection_.Alive() || window == kNoWindow) return false;
  int x = 0, y = 0;
  Window child = None;
  X11ErrorTrap trap(connection_.display());
  Bool sameScreen = XTranslateCoordinates(connection_.display(), static_cast<Window>(window),
                                          connection_.root(), 0, 0, &x, &y, &child);
  if (trap.Failed() || !sameScreen) return false;
  if (origin != nullptr) *origin = Point{x, y};
  return true;
}

bool X11WindowSystem::SetOuterSize(WindowHandle window, std::int32_t width, std::int32_t height) {
  if (window == kNoWindow || window == connection_.root()) return false;
  Rect outer, client;
  if (!GetWindowInfo(window, &outer, &client)) return false;
  // The frame keeps its extents; only the client changes size.
  const std::int32_t extraWidth = (outer.right - outer.left) - client.right;
  const std::int32_t extraHeight = (outer.bottom - outer.top) - client.bottom;
  const std::int32_t clientWidth = width - extraWidth;
  const std::int32_t clientHeight = height - extraHeight;
  if (clientWidth < 1 || clientHeight < 1) return false;
  X11ErrorTrap trap(connection_.display());
  XResizeWindow(connection_.display(), static_cast<Window>(window),
                static_cast<unsigned>(clientWidth), static_cast<unsigned>(clientHeight));
  return !trap.Failed();
}

Point X11WindowSystem::CursorPos() {
  if (!connection_.Alive()) return {};
  Window root = None, child = None;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned mask = 0;
  X11ErrorTrap trap(connection_.display());
  Bool onScreen = XQueryPointer(connection_.display(), connection_.root(), &root, &child, &rootX,
                                &rootY, &winX, &winY, &mask);
  if (trap.Failed() || !onScreen) return {};
  return Point{rootX, rootY};
}

void X11WindowSystem::SetCursorPos(Point position) {
  if (!connection_.Alive()) return;
  XWarpPointer(connection_.display(), None, connection_.root(), 0, 0, 0, 0, position.x, position.y);
  XFlush(connection_.display());
}

std::int32_t X11WindowSystem::ScreenWidth() {
  RefreshScreenSize();
  return screenWidth_;
}

std::int32_t X11WindowSystem::ScreenHeight() {
  RefreshScreenSize();
  return screenHeight_;
}

void X11WindowSystem::RefreshScreenSize() {
  if (!connection_.Alive()) return;
  Display* display = connection_.display();
  // Only RandR events are selected on this connection; whatever has arrived
  // is read without waiting for the server.
  while (XEventsQueued(display, QueuedAfterReading) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (randr_ && event.type >= randrEventBase_ && event.type <= randrEventBase_ + RRNotify) {
      XRRUpdateConfiguration(&event);
      screenSizeKnown_ = false;
    }
  }
  if (screenSizeKnown_) return;
  if (!PrimaryOutputSize(&screenWidth_, &screenHeight_)) {
    screenWidth_ = DisplayWidth(display, connection_.screen());
    screenHeight_ = DisplayHeight(display, connection_.screen());
  }
  screenSizeKnown_ = true;
}

bool X11WindowSystem::PrimaryOutputSize(std::int32_t* width, std::int32_t* height) {
  if (!randr_ || !connection_.Alive()) return false;
  Display* display = connection_.display();
  X11ErrorTrap trap(display);
  RROutput primary = XRRGetOutputPrimary(display, connection_.root());
  if (primary == None) return false;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, connection_.root());
  if (resources == nullptr) return false;
  bool found = false;
  XRROutputInfo* output = XRRGetOutputInfo(display, resources, primary);
  if (output != nullptr && output->crtc != None) {
    XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, output->crtc);
    if (crtc != nullptr && crtc->width > 0 && crtc->height > 0) {
      *width = static_cast<std::int32_t>(crtc->width);
      *height = static_cast<std::int32_t>(crtc->height);
      found = true;
    }
    if (crtc != nullptr) XRRFreeCrtcInfo(crtc);
  }
  if (output != nullptr) XRRFreeOutputInfo(output);
  XRRFreeScreenResources(resources);
  return found && !trap.Failed();
}

bool X11WindowSystem::FrameExtents(Window window, Extents* extents) {
  long values[4] = {0, 0, 0, 0};
  if (!connection_.ReadLongs(window, netFrameExtents_, XA_CARDINAL, values, 4)) return false;
  *extents = Extents{values[0], values[1], values[2], values[3]};
  return true;
}

bool X11WindowSystem::QueryParent(Window window, Window* root, Window* parent) {
  Display* display = connection_.display();
  Window* children = nullptr;
  unsigned count = 0;
  X11ErrorTrap trap(display);
  Status ok = XQueryTree(display, window, root, parent, &children, &count);
  if (children != nullptr) XFree(children);
  return !trap.Failed() && ok;
}

Window X11WindowSystem::TopLevelAncestor(Window window) {
  Window current = window;
  while (true) {
    Window root = None, parent = None;
    if (!QueryParent(current, &root, &parent)) return None;
    if (parent == root || parent == None) return current;
    current = parent;
  }
}

Window X11WindowSystem::ClientOf(Window window) {
  Display* display = connection_.display();
  // Climb from the focus window to the first window the manager manages.
  for (Window current = window; current != None;) {
    if (connection_.HasProperty(current, wmState_)) return current;
    Window root = None, parent = None;
    if (!QueryParent(current, &root, &parent)) return None;
    if (parent == root) break;
    current = parent;
  }
  // The focus sits on a top-level window without WM_STATE (a frame, or no
  // window manager at all): look a few levels down for the client.
  Window top = TopLevelAncestor(window);
  if (top == None) return None;
  std::vector<Window> level{top};
  for (int depth = 0; depth < kMaxClientSearchDepth && !level.empty(); ++depth) {
    std::vector<Window> next;
    for (Window w : level) {
      if (connection_.HasProperty(w, wmState_)) return w;
      Window root = None, parent = None;
      Window* children = nullptr;
      unsigned count = 0;
      X11ErrorTrap trap(display);
      Status ok = XQueryTree(display, w, &root, &parent, &children, &count);
      if (!trap.Failed() && ok) next.insert(next.end(), children, children + count);
      if (children != nullptr) XFree(children);
    }
    level.swap(next);
  }
  return top;
}

}  // namespace framory
