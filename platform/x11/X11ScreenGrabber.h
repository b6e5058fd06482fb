// Screen pixels, palette and pointer image over Xlib on a connection of its
// own. Pixels come from the root window through MIT-SHM: one shared-memory
// image is made for a grab size and reused until the size changes, and the
// frame handed out is a view of it (no copy). Where MIT-SHM is missing or
// refused (a remote display) a plain image is filled with XGetSubImage
// instead. The pointer image comes from XFixes.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <string>

#include "capture/ScreenGrabber.h"
#include "platform/x11/X11Connection.h"

namespace framory {

class X11ScreenGrabber : public ScreenGrabber {
 public:
  // Opens `displayName` ($DISPLAY when empty); check Valid().
  explicit X11ScreenGrabber(const std::string& displayName = {});
  ~X11ScreenGrabber() override;

  bool Valid() const { return connection_.Valid(); }
  // The grabber's own connection, which the screen-change watch shares.
  X11Connection& Connection() { return connection_; }
  // Whether grabs go through MIT-SHM (false after a fallback).
  bool UsingSharedMemory() const { return useShm_; }
  // Turns MIT-SHM off, for tests and for displays known to be remote.
  void DisableSharedMemory();

  bool Grab(WindowHandle source, std::int32_t x, std::int32_t y, std::int32_t width,
            std::int32_t height, Frame* frame) override;
  void ReleaseFrame() override;
  bool IsPaletteDisplay() override;
  bool ReadPalette(WindowHandle paletteWindow, Palette* palette) override;
  bool CurrentCursor(CursorImage* cursor) override;

 private:
  // Makes sure image_ is width × height, reusing it when it already is.
  bool EnsureImage(int width, int height);
  bool CreateShmImage(int width, int height);
  bool CreatePlainImage(int width, int height);
  void DestroyImage();
  // Reads the screen rectangle (x, y, width, height), which lies inside the
  // screen, into image_ at (destX, destY).
  bool ReadRect(int x, int y, int width, int height, int destX, int destY);
  bool ReadRectShm(int x, int y, int width, int height, int destX, int destY);
  // Paints image_ black outside the destination rectangle of a clipped grab.
  void FillOutside(int left, int top, int right, int bottom);

  X11Connection connection_;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  bool useShm_ = false;
  bool xfixes_ = false;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
  bool shmAttached_ = false;
};

}  // namespace framory
