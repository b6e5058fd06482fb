#include "X11TestWindows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "platform/x11/X11ErrorTrap.h"

namespace framory {
namespace {

unsigned long Compose(unsigned long mask, std::uint8_t value) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  int bits = 0;
  while (((mask >> (shift + bits)) & 1) != 0) ++bits;
  const unsigned long scaled = bits >= 8 ? static_cast<unsigned long>(value) << (bits - 8)
                                         : static_cast<unsigned long>(value) >> (8 - bits);
  return (scaled << shift) & mask;
}

// The window named by a property of type WINDOW on `window`, if it is set.
std::optional<Window> WindowOfProperty(Display* display, Window window, const char* name) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, remaining = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False, XA_WINDOW,
                     &type, &format, &items, &remaining, &data);
  std::optional<Window> named;
  if (data != nullptr && type == XA_WINDOW && items == 1)
    named = static_cast<Window>(*reinterpret_cast<long*>(data));
  if (data != nullptr) XFree(data);
  return named;
}

// Whether `window` has `property` set, of any type.
bool HasProperty(Display* display, Window window, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, remaining = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &type, &format,
                     &items, &remaining, &data);
  if (data != nullptr) XFree(data);
  return type != None;
}

}  // namespace

X11TestWindows::X11TestWindows() {
  if (!Valid() || !WindowManagerRunning()) return;
  // openbox can keep a map request that reached it while it was starting in
  // its queue, unhandled, until some later event wakes it up; a root
  // property change is such an event. So the probe is framed as soon as the
  // window manager runs, instead of never.
  Window probe = CreateSolid(0, 0, 1, 1, 0, false);
  XMapWindow(display(), probe);
  XSync(display(), False);
  const Atom wake = XInternAtom(display(), "_FRAMORY_TEST_WAKE", False);
  const bool framed = WaitFor(
      [&] {
        if (Framed(probe)) return true;
        const long value = 1;
        XChangeProperty(display(), root(), wake, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&value), 1);
        XFlush(display());
        return false;
      },
      60000);
  if (!framed) std::fprintf(stderr, "X11TestWindows: the window manager does not manage windows\n");
  XDeleteProperty(display(), root(), wake);
  Destroy(probe);
  // The window manager moves the focus (and installs colormaps) when the
  // probe goes, or when a window of the session's start-up went; that must
  // not happen in the middle of a test.
  windowManager_ = framed;
  SyncWithWindowManager();
}

bool X11TestWindows::WindowManagerRunning() {
  // A running window manager owns the WM_Sn selection of the screen and
  // keeps a check window that names itself; a property left behind by one
  // that has quit names a window that is gone.
  const std::string selection = "WM_S" + std::to_string(connection_.screen());
  if (XGetSelectionOwner(display(), XInternAtom(display(), selection.c_str(), False)) == None)
    return false;
  const std::optional<Window> check =
      WindowOfProperty(display(), root(), "_NET_SUPPORTING_WM_CHECK");
  if (!check) return false;
  X11ErrorTrap trap(display());
  const std::optional<Window> self =
      WindowOfProperty(display(), *check, "_NET_SUPPORTING_WM_CHECK");
  return !trap.Failed() && self == check;
}

bool X11TestWindows::Framed(Window window) {
  Window rootReturn = None, parent = None, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display(), window, &rootReturn, &parent, &children, &count)) return false;
  if (children != nullptr) XFree(children);
  return parent != rootReturn;
}

X11TestWindows::~X11TestWindows() {
  if (!connection_.Alive()) return;
  for (Window window : windows_) {
    X11ErrorTrap trap(display());
    XDestroyWindow(display(), window);
    trap.Failed();
  }
  for (Pixmap pixmap : pixmaps_) XFreePixmap(display(), pixmap);
  for (Cursor cursor : cursors_) XFreeCursor(display(), cursor);
  XSync(display(), False);
}

int X11TestWindows::ScreenWidth() const { return DisplayWidth(display(), connection_.screen()); }
int X11TestWindows::ScreenHeight() const { return DisplayHeight(display(), connection_.screen()); }
int X11TestWindows::Depth() const { return DefaultDepth(display(), connection_.screen()); }

unsigned long X11TestWindows::Pixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  Visual* visual = DefaultVisual(display(), connection_.screen());
  if (visual->c_class == TrueColor || visual->c_class == DirectColor) {
    return Compose(visual->red_mask, red) | Compose(visual->green_mask, green) |
           Compose(visual->blue_mask, blue);
  }
  XColor colour{};
  colour.red = static_cast<unsigned short>(red * 257);
  colour.green = static_cast<unsigned short>(green * 257);
  colour.blue = static_cast<unsigned short>(blue * 257);
  colour.flags = DoRed | DoGreen | DoBlue;
  if (!XAllocColor(display(), DefaultColormap(display(), connection_.screen()), &colour)) return 0;
  return colour.pixel;
}

Window X11TestWindows::CreateSolid(int x, int y, int width, int height, unsigned long pixel,
                                   bool overrideRedirect, int borderWidth) {
  XSetWindowAttributes attributes{};
  attributes.background_pixel = pixel;
  attributes.border_pixel = pixel;
  attributes.override_redirect = overrideRedirect ? True : False;
  Window window = XCreateWindow(display(), root(), x, y, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), static_cast<unsigned>(borderWidth),
                                CopyFromParent, InputOutput, CopyFromParent,
                                CWBackPixel | CWBorderPixel | CWOverrideRedirect, &attributes);
  XSizeHints hints{};
  hints.flags = USPosition | USSize;
  hints.x = x;
  hints.y = y;
  hints.width = width;
  hints.height = height;
  XSetWMNormalHints(display(), window, &hints);
  XStoreName(display(), window, "framory test window");
  windows_.push_back(window);
  return window;
}

std::uint32_t X11TestWindows::PatternPixel(int x, int y) {
  return (static_cast<std::uint32_t>((x * 7 + y) & 0xFF) << 16) |
         (static_cast<std::uint32_t>((y * 5) & 0xFF) << 8) |
         static_cast<std::uint32_t>((x ^ y) & 0xFF);
}

Window X11TestWindows::CreatePattern(int x, int y, int width, int height, bool overrideRedirect) {
  Window window = CreateSolid(x, y, width, height, 0, overrideRedirect);
  Visual* visual = DefaultVisual(display(), connection_.screen());
  Pixmap pixmap = XCreatePixmap(display(), window, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), static_cast<unsigned>(Depth()));
  XImage* image =
      XCreateImage(display(), visual, static_cast<unsigned>(Depth()), ZPixmap, 0, nullptr,
                   static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
  image->data = static_cast<char*>(std::calloc(image->bytes_per_line, height));
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      const std::uint32_t rgb = PatternPixel(column, row);
      XPutPixel(image, column, row, Pixel(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF));
    }
  }
  GC gc = XCreateGC(display(), pixmap, 0, nullptr);
  XPutImage(display(), pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width),
            static_cast<unsigned>(height));
  XFreeGC(display(), gc);
  XDestroyImage(image);
  XSetWindowBackgroundPixmap(display(), window, pixmap);
  pixmaps_.push_back(pixmap);
  return window;
}

bool X11TestWindows::MapAndWait(Window window) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display(), window, &attributes)) return false;
  XMapWindow(display(), window);
  XSync(display(), False);
  const Atom wmState = XInternAtom(display(), "WM_STATE", False);
  const Atom extents = XInternAtom(display(), "_NET_FRAME_EXTENTS", False);
  const auto hasProperty = [&](Atom property) { return HasProperty(display(), window, property); };
  const bool shown = WaitFor([&] {
    XWindowAttributes now;
    if (!XGetWindowAttributes(display(), window, &now) || now.map_state != IsViewable) return false;
    if (attributes.override_redirect) return true;
    Window rootReturn = None, parent = None, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display(), window, &rootReturn, &parent, &children, &count);
    if (children != nullptr) XFree(children);
    return parent != root() && hasProperty(wmState) && hasProperty(extents);
  });
  // The window manager may still act on the map (focus the new window, say)
  // after the properties are set; wait until it has handled it all.
  if (shown && !attributes.override_redirect && !SyncWithWindowManager()) return false;
  if (!shown) {
    XWindowAttributes now{};
    XGetWindowAttributes(display(), window, &now);
    Window rootReturn = None, parent = None, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display(), window, &rootReturn, &parent, &children, &count);
    if (children != nullptr) XFree(children);
    std::fprintf(
        stderr, "window 0x%lx not shown: map state %d, framed %d, WM_STATE %d, extents %d\n",
        window, now.map_state, parent != root(), hasProperty(wmState), hasProperty(extents));
  }
  return shown;
}

unsigned long X11TestWindows::ScreenPixel(int x, int y) {
  XImage* image = XGetImage(display(), root(), x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return ~0UL;
  const unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return pixel;
}

bool X11TestWindows::WaitForScreenPixel(int x, int y, unsigned long pixel) {
  return WaitFor([&] { return ScreenPixel(x, y) == pixel; });
}

bool X11TestWindows::SyncWithWindowManager() {
  if (!windowManager_) return true;
  // The window manager handles what reaches it in order. Once it has answered
  // a frame-extents request made now, it has handled every earlier request
  // and event; once it has answered a second one, also the events that its
  // handling caused (the focus events of a window it focused, say).
  const Atom request = XInternAtom(display(), "_NET_REQUEST_FRAME_EXTENTS", False);
  const Atom extents = XInternAtom(display(), "_NET_FRAME_EXTENTS", False);
  XSetWindowAttributes attributes{};
  Window marker = XCreateWindow(display(), root(), -10, -10, 1, 1, 0, CopyFromParent, InputOutput,
                                CopyFromParent, 0, &attributes);
  bool answered = true;
  for (int round = 0; round < 2 && answered; ++round) {
    XDeleteProperty(display(), marker, extents);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = marker;
    event.xclient.message_type = request;
    event.xclient.format = 32;
    XSendEvent(display(), root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display(), False);
    answered = WaitFor([&] { return HasProperty(display(), marker, extents); });
  }
  XDestroyWindow(display(), marker);
  XSync(display(), False);
  if (!answered) std::fprintf(stderr, "X11TestWindows: no answer from the window manager\n");
  return answered;
}

bool X11TestWindows::Activate(Window window) {
  // Whatever the window manager still has to do first (the focus of a window
  // it has just mapped) is done before the request, so that the request is
  // the last word.
  if (!SyncWithWindowManager()) return false;
  const Atom active = XInternAtom(display(), "_NET_ACTIVE_WINDOW", False);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = active;
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // from a pager: honoured without focus-stealing checks
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display(), root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XSync(display(), False);
  // The property may still name `window` from before while the input focus
  // has already gone elsewhere; both must agree.
  return WaitFor([&] {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display(), &focus, &revert);
    return focus == window && ActiveWindow() == window;
  });
}

Window X11TestWindows::ActiveWindow() {
  return WindowOfProperty(display(), root(), "_NET_ACTIVE_WINDOW").value_or(None);
}

void X11TestWindows::SetTransientFor(Window window, Window owner) {
  XSetTransientForHint(display(), window, owner);
  XSync(display(), False);
}

bool X11TestWindows::FrameGeometry(Window window, int* x, int* y, int* width, int* height) {
  Window current = window;
  while (true) {
    Window rootReturn = None, parent = None, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display(), current, &rootReturn, &parent, &children, &count)) return false;
    if (children != nullptr) XFree(children);
    if (parent == rootReturn) break;
    current = parent;
  }
  Window rootReturn = None;
  unsigned w = 0, h = 0, border = 0, depth = 0;
  if (!XGetGeometry(display(), current, &rootReturn, x, y, &w, &h, &border, &depth)) return false;
  *width = static_cast<int>(w + 2 * border);
  *height = static_cast<int>(h + 2 * border);
  return true;
}

void X11TestWindows::Destroy(Window window) {
  XDestroyWindow(display(), window);
  XSync(display(), False);
  windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
}

std::uint32_t X11TestWindows::BlockCursorPixel(int x, int y) {
  const bool inside = x >= 2 && x < 8 && y >= 3 && y < 7;
  const bool frame = !inside && x >= 1 && x < 9 && y >= 2 && y < 8;
  return inside ? 0xFFFF0000u : frame ? 0xFF0000FFu : 0u;
}

Cursor X11TestWindows::CreateBlockCursor(bool visible, int xHot, int yHot) {
  unsigned char source[32] = {}, mask[32] = {};
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const std::uint32_t pixel = BlockCursorPixel(x, y);
      if (visible && pixel != 0) mask[y * 2 + x / 8] |= 1 << (x % 8);
      if (pixel == 0xFFFF0000u) source[y * 2 + x / 8] |= 1 << (x % 8);
    }
  }
  Pixmap sourceMap =
      XCreateBitmapFromData(display(), root(), reinterpret_cast<char*>(source), 16, 16);
  Pixmap maskMap = XCreateBitmapFromData(display(), root(), reinterpret_cast<char*>(mask), 16, 16);
  XColor foreground{}, background{};
  foreground.red = 0xFFFF;
  background.blue = 0xFFFF;
  Cursor cursor = XCreatePixmapCursor(display(), sourceMap, maskMap, &foreground, &background,
                                      static_cast<unsigned>(xHot), static_cast<unsigned>(yHot));
  XFreePixmap(display(), sourceMap);
  XFreePixmap(display(), maskMap);
  cursors_.push_back(cursor);
  return cursor;
}

bool X11TestWindows::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace framory
