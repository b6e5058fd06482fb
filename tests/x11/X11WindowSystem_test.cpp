// Window queries against Xvfb with openbox: the active window, owner chains,
// frames drawn by the window manager, resizing the outer frame, and windows
// that vanish between two calls.
#include <gtest/gtest.h>

#include <X11/Xatom.h>

#include "platform/x11/X11WindowSystem.h"
#include "support/X11TestWindows.h"

namespace framory {
namespace {

class X11WindowSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(windows.Valid());
    ASSERT_TRUE(system.Valid());
  }
  Window Managed(int width, int height) {
    Window window = windows.CreateSolid(200, 150, width, height, windows.Pixel(90, 90, 90), false);
    EXPECT_TRUE(windows.MapAndWait(window)) << "openbox frames the window";
    return window;
  }
  X11TestWindows windows;
  X11WindowSystem system;
};

TEST_F(X11WindowSystemTest, DesktopScreenSizeAndPointer) {
  EXPECT_EQ(system.DesktopWindow(), windows.root());
  EXPECT_EQ(system.ScreenWidth(), 1920);
  EXPECT_EQ(system.ScreenHeight(), 1080);

  system.SetCursorPos(Point{321, 234});
  EXPECT_EQ(system.CursorPos(), (Point{321, 234}));
  Window root, child;
  int rootX = 0, rootY = 0, x = 0, y = 0;
  unsigned mask = 0;
  XQueryPointer(windows.display(), windows.root(), &root, &child, &rootX, &rootY, &x, &y, &mask);
  EXPECT_EQ(rootX, 321) << "the server saw the warp";
  EXPECT_EQ(rootY, 234);

  Rect outer, client;
  ASSERT_TRUE(system.GetWindowInfo(system.DesktopWindow(), &outer, &client));
  EXPECT_EQ(outer, (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(client, (Rect{0, 0, 1920, 1080}));
}

TEST_F(X11WindowSystemTest, ForegroundWindowFollowsActivation) {
  Window first = Managed(200, 100);
  Window second = Managed(220, 120);
  ASSERT_TRUE(windows.Activate(first));
  EXPECT_EQ(system.ForegroundWindow(), first);
  ASSERT_TRUE(windows.Activate(second));
  EXPECT_EQ(system.ForegroundWindow(), second);

  // The active window vanishes: no stale handle, no crash.
  windows.Destroy(second);
  WindowHandle now = system.ForegroundWindow();
  EXPECT_NE(now, second);
  Rect outer, client;
  EXPECT_FALSE(system.GetWindowInfo(second, &outer, &client));
}

TEST_F(X11WindowSystemTest, RootOwnerClimbsTransientChain) {
  Window application = Managed(300, 200);
  Window dialog = Managed(150, 100);
  Window subDialog = Managed(100, 80);
  windows.SetTransientFor(dialog, application);
  windows.SetTransientFor(subDialog, dialog);
  EXPECT_EQ(system.RootOwner(subDialog), application);
  EXPECT_EQ(system.RootOwner(dialog), application);
  EXPECT_EQ(system.RootOwner(application), application) << "no owner: the window itself";

  // Transient for the root means "no owner" to most toolkits.
  Window loose = Managed(80, 60);
  windows.SetTransientFor(loose, windows.root());
  EXPECT_EQ(system.RootOwner(loose), loose);

  // A loop of owners must end.
  windows.SetTransientFor(application, subDialog);
  const WindowHandle top = system.RootOwner(dialog);
  EXPECT_TRUE(top == application || top == dialog || top == subDialog);

  // An owner that vanished ends the chain at its last live window.
  windows.SetTransientFor(application, None);
  XDeleteProperty(windows.display(), application, XA_WM_TRANSIENT_FOR);
  windows.Destroy(dialog);
  EXPECT_EQ(system.RootOwner(subDialog), subDialog);
  EXPECT_EQ(system.RootOwner(dialog), kNoWindow) << "a window that is gone";
}

TEST_F(X11WindowSystemTest, WindowInfoIncludesTheWindowManagerFrame) {
  Window window = Managed(300, 200);
  Rect outer, client;
  ASSERT_TRUE(system.GetWindowInfo(window, &outer, &client));
  EXPECT_EQ(client, (Rect{0, 0, 300, 200}));
  int frameX = 0, frameY = 0, frameWidth = 0, frameHeight = 0;
  ASSERT_TRUE(windows.FrameGeometry(window, &frameX, &frameY, &frameWidth, &frameHeight));
  EXPECT_EQ(outer, (Rect{frameX, frameY, frameX + frameWidth, frameY + frameHeight}))
      << "outer rectangle = openbox's frame window";
  EXPECT_GT(outer.bottom - outer.top, 200) << "the title bar adds height";

  Point origin;
  ASSERT_TRUE(system.ClientOrigin(window, &origin));
  EXPECT_GE(origin.x, outer.left);
  EXPECT_GT(origin.y, outer.top) << "client below the title bar";
  EXPECT_LE(origin.x + 300, outer.right);
  EXPECT_LE(origin.y + 200, outer.bottom);
}

TEST_F(X11WindowSystemTest, UnmanagedWindowsAreMeasuredExactly) {
  Window plain = windows.CreateSolid(123, 45, 60, 40, 0, true);
  Window bordered = windows.CreateSolid(300, 400, 50, 30, 0, true, 5);
  ASSERT_TRUE(windows.MapAndWait(plain));
  ASSERT_TRUE(windows.MapAndWait(bordered));
  Rect outer, client;
  Point origin;
  ASSERT_TRUE(system.GetWindowInfo(plain, &outer, &client));
  EXPECT_EQ(outer, (Rect{123, 45, 183, 85}));
  EXPECT_EQ(client, (Rect{0, 0, 60, 40}));
  ASSERT_TRUE(system.ClientOrigin(plain, &origin));
  EXPECT_EQ(origin, (Point{123, 45}));

  ASSERT_TRUE(system.GetWindowInfo(bordered, &outer, &client));
  EXPECT_EQ(outer, (Rect{300, 400, 360, 440})) << "the X border belongs to the outer frame";
  EXPECT_EQ(client, (Rect{0, 0, 50, 30}));
  ASSERT_TRUE(system.ClientOrigin(bordered, &origin));
  EXPECT_EQ(origin, (Point{305, 405}));
}

TEST_F(X11WindowSystemTest, SetOuterSizeResizesTheFrame) {
  Window window = Managed(300, 200);
  Rect before, client;
  ASSERT_TRUE(system.GetWindowInfo(window, &before, &client));
  ASSERT_TRUE(system.SetOuterSize(window, 500, 400));
  Rect outer;
  ASSERT_TRUE(X11TestWindows::WaitFor([&] {
    return system.GetWindowInfo(window, &outer, &client) && outer.right - outer.left == 500 &&
           outer.bottom - outer.top == 400;
  })) << "outer "
      << outer.right - outer.left << "x" << outer.bottom - outer.top;
  int x = 0, y = 0, width = 0, height = 0;
  ASSERT_TRUE(windows.FrameGeometry(window, &x, &y, &width, &height));
  EXPECT_EQ(width, 500) << "openbox's frame";
  EXPECT_EQ(height, 400);
  EXPECT_EQ(outer.left, before.left) << "resized in place";
  EXPECT_EQ(outer.top, before.top);
  EXPECT_LT(client.right, 500);
  EXPECT_LT(client.bottom, 400);

  EXPECT_FALSE(system.SetOuterSize(window, 1, 1)) << "smaller than the decorations";
  EXPECT_FALSE(system.SetOuterSize(system.DesktopWindow(), 100, 100));
}

TEST_F(X11WindowSystemTest, VisibilityExistenceAndVanishedWindows) {
  Window window = windows.CreateSolid(10, 10, 50, 50, 0, false);
  windows.Sync();
  EXPECT_TRUE(system.IsWindow(window));
  EXPECT_FALSE(system.IsWindowVisible(window)) << "not mapped yet";
  ASSERT_TRUE(windows.MapAndWait(window));
  EXPECT_TRUE(system.IsWindowVisible(window));
  XUnmapWindow(windows.display(), window);
  windows.Sync();
  EXPECT_TRUE(X11TestWindows::WaitFor([&] { return !system.IsWindowVisible(window); }));

  windows.Destroy(window);
  Rect outer{1, 2, 3, 4}, client{5, 6, 7, 8};
  Point origin{9, 9};
  EXPECT_FALSE(system.IsWindow(window));
  EXPECT_FALSE(system.IsWindowVisible(window));
  EXPECT_FALSE(system.GetWindowInfo(window, &outer, &client));
  EXPECT_FALSE(system.ClientOrigin(window, &origin));
  EXPECT_FALSE(system.SetOuterSize(window, 100, 100));
  EXPECT_EQ(system.RootOwner(window), kNoWindow);
  EXPECT_FALSE(system.IsWindow(kNoWindow));
  EXPECT_FALSE(system.GetWindowInfo(kNoWindow, &outer, &client));
  EXPECT_TRUE(system.IsWindow(system.DesktopWindow())) << "the connection survived the errors";
}

// Without an EWMH window manager the input focus, climbed to its top-level
// window, stands for the foreground window. Runs last: it asks openbox to
// quit, which leaves a stale _NET_SUPPORTING_WM_CHECK behind on the root.
TEST_F(X11WindowSystemTest, ZzForegroundFromInputFocusWithoutWindowManager) {
  Display* display = windows.display();
  Window application = Managed(200, 150);
  Window child = XCreateSimpleWindow(display, application, 5, 5, 20, 20, 0, 0, 0);
  XMapWindow(display, child);
  Window unmanaged = windows.CreateSolid(600, 600, 40, 40, 0, true);
  Window unmanagedChild = XCreateSimpleWindow(display, unmanaged, 1, 1, 10, 10, 0, 0, 0);
  XMapWindow(display, unmanagedChild);
  ASSERT_TRUE(windows.MapAndWait(unmanaged));

  Window wmCheck = None;
  {
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, remaining = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, windows.root(), check, 0, 1, False, XA_WINDOW, &type, &format,
                       &items, &remaining, &data);
    ASSERT_NE(data, nullptr) << "openbox announced itself";
    wmCheck = static_cast<Window>(*reinterpret_cast<long*>(data));
    XFree(data);
  }
  // openbox --exit sends the same message.
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = windows.root();
  event.xclient.message_type = XInternAtom(display, "_OB_CONTROL", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 3;
  XSendEvent(display, windows.root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
             &event);
  windows.Sync();
  ASSERT_TRUE(X11TestWindows::WaitFor([&] { return !system.IsWindow(wmCheck); }))
      << "openbox quits";
  ASSERT_TRUE(X11TestWindows::WaitFor([&] {
    Window root = None, parent = None, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display, application, &root, &parent, &children, &count);
    if (children != nullptr) XFree(children);
    return parent == root;
  })) << "the application window is back on the root";

  XSetInputFocus(display, child, RevertToParent, CurrentTime);
  windows.Sync();
  EXPECT_EQ(system.ForegroundWindow(), application) << "focus on a child of a top-level window";
  XSetInputFocus(display, unmanagedChild, RevertToParent, CurrentTime);
  windows.Sync();
  EXPECT_EQ(system.ForegroundWindow(), unmanaged) << "no WM_STATE: the top-level window";
  XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
  windows.Sync();
  EXPECT_EQ(system.ForegroundWindow(), kNoWindow) << "focus on no window";

  Rect outer, client;
  ASSERT_TRUE(system.GetWindowInfo(application, &outer, &client));
  EXPECT_EQ(outer.right - outer.left, 200) << "no frame any more";
}

}  // namespace
}  // namespace framory
