// Screen pixels, palette and pointer image over Xlib on a connection of its
// own. Pixels come from the root window through MIT-SHM: one shared-memory
// image is made for a grab size and reused until the size changes, and the
// frame handed out is a view of it (no copy). Where MIT-SHM is missing or
// refused (a remote display) a plain image is filled with XGetSubImage
// instead. The pointer image comes from XFixes.
//
// The image also serves as the kept frame for Regrab: when only parts of the
// screen changed since the last grab of the same rectangle, those parts are
// read into a second, small shared segment (XShmGetImage always writes packed
// rows at the start of its segment, so it cannot read into the middle of the
// kept one) and copied into place.
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
  bool Regrab(WindowHandle source, std::int32_t x, std::int32_t y, std::int32_t width,
              std::int32_t height, const std::vector<Rect>& parts, Frame* frame) override;
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
  bool ReadRectPlain(int x, int y, int width, int height, int destX, int destY);
  // Reads the screen rectangle into image_ at (destX, destY) through the
  // scratch segment, leaving the rest of image_ as it is.
  bool ReadRectScratch(int x, int y, int width, int height, int destX, int destY);
  bool EnsureScratch(std::size_t bytes);
  void DestroyScratch();
  // Fills `frame` with the description of image_.
  void Describe(int width, int height, Frame* frame);
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
  // The segment partial reads land in, grown on demand.
  XShmSegmentInfo scratch_{};
  std::size_t scratchBytes_ = 0;
  // What image_ holds: the root rectangle at (keptX_, keptY_) of its size,
  // read whole from the screen, when keptValid_.
  bool keptValid_ = false;
  long keptX_ = 0;
  long keptY_ = 0;
};

}  // namespace framory
