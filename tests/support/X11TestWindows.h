// Test windows on a real X server: solid and patterned windows whose pixels
// are known, managed by the window manager or placed exactly (override
// redirect), plus the waits that make tests independent of timing. Every wait
// polls with a bounded deadline; none of them asserts on time.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/x11/X11Connection.h"

namespace framory {

class X11TestWindows {
 public:
  // Opens a connection and, when a window manager runs, waits until it
  // really manages windows (it finishes starting up after it has set its
  // root properties).
  X11TestWindows();
  ~X11TestWindows();

  bool Valid() const { return connection_.Valid(); }
  Display* display() const { return connection_.display(); }
  Window root() const { return connection_.root(); }
  int ScreenWidth() const;
  int ScreenHeight() const;
  int Depth() const;

  // The pixel value of an RGB colour: composed from the visual's masks on
  // TrueColor displays, allocated in the default colormap on palette ones.
  unsigned long Pixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

  // A window painted `pixel` by the server itself (its background). An
  // override-redirect window sits exactly at (x, y) above managed ones; a
  // managed one is placed and framed by the window manager.
  Window CreateSolid(int x, int y, int width, int height, unsigned long pixel,
                     bool overrideRedirect, int borderWidth = 0);
  // A window whose background is PatternPixel(x, y) at each of its pixels
  // (TrueColor displays only).
  Window CreatePattern(int x, int y, int width, int height, bool overrideRedirect);
  static std::uint32_t PatternPixel(int x, int y);

  // Maps `window` and waits until it is viewable (and, for managed windows,
  // framed by the window manager). False on timeout.
  bool MapAndWait(Window window);
  // Waits until the screen shows `pixel` at (x, y).
  bool WaitForScreenPixel(int x, int y, unsigned long pixel);
  unsigned long ScreenPixel(int x, int y);

  // Asks the window manager to activate `window` and waits until
  // _NET_ACTIVE_WINDOW names it and it has the input focus.
  bool Activate(Window window);
  Window ActiveWindow();
  void SetTransientFor(Window window, Window owner);
  // The window manager's frame around `window` (the ancestor that is a child
  // of the root) and its outer rectangle, border included.
  bool FrameGeometry(Window window, int* x, int* y, int* width, int* height);
  void Destroy(Window window);

  // A 16 × 16 cursor: a red 6 × 4 block at (2, 3) in a blue 1-pixel frame,
  // transparent elsewhere; fully transparent when `visible` is false. Freed
  // with the windows.
  Cursor CreateBlockCursor(bool visible, int xHot, int yHot);
  // The premultiplied ARGB pixel (x, y) of the visible block cursor.
  static std::uint32_t BlockCursorPixel(int x, int y);
  void Sync() { XSync(display(), False); }

  // Returns once the window manager (if any) has handled everything sent to
  // it so far. False when it does not answer.
  bool SyncWithWindowManager();

  // Polls `condition` every 10 ms for up to `timeoutMs`.
  static bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 15000);

 private:
  bool WindowManagerRunning();
  bool Framed(Window window);

  X11Connection connection_;
  bool windowManager_ = false;
  std::vector<Window> windows_;
  std::vector<Pixmap> pixmaps_;
  std::vector<Cursor> cursors_;
};

}  // namespace framory
