// Grabs from the root window. The common case, a rectangle inside the screen
// of the same size as the last one, is a single XShmGetImage into the image
// made for the previous grab. A rectangle that reaches beyond the screen is
// clipped (the server refuses to read outside the root): the visible part is
// read into the top of the same segment with the server's row stride, moved
// into place row by row, and the rest is painted black.
#include "platform/x11/X11ScreenGrabber.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/x11/X11ErrorTrap.h"

namespace framory {
namespace {

// Widths and heights travel as 16-bit values in the protocol.
constexpr int kMaxDimension = 32767;

void SwapToLittleEndian(XImage* image) {
  if (image->byte_order == LSBFirst) return;
  for (int y = 0; y < image->height; ++y) {
    auto* row = reinterpret_cast<std::uint8_t*>(image->data) +
                static_cast<std::ptrdiff_t>(y) * image->bytes_per_line;
    if (image->bits_per_pixel == 32) {
      for (int x = 0; x < image->width; ++x) std::reverse(row + 4 * x, row + 4 * x + 4);
    } else if (image->bits_per_pixel == 16) {
      for (int x = 0; x < image->width; ++x) std::swap(row[2 * x], row[2 * x + 1]);
    }
  }
}

}  // namespace

X11ScreenGrabber::X11ScreenGrabber(const std::string& displayName) : connection_(displayName) {
  if (!connection_.Valid()) return;
  Display* display = connection_.display();
  visual_ = DefaultVisual(display, connection_.screen());
  depth_ = DefaultDepth(display, connection_.screen());
  useShm_ = XShmQueryExtension(display);
  int eventBase = 0, errorBase = 0;
  xfixes_ = XFixesQueryExtension(display, &eventBase, &errorBase);
  if (xfixes_) {
    int major = 0, minor = 0;
    XFixesQueryVersion(display, &major, &minor);
    xfixes_ = major >= 1;
  }
}

X11ScreenGrabber::~X11ScreenGrabber() {
  DestroyImage();
  DestroyScratch();
}

void X11ScreenGrabber::DisableSharedMemory() {
  DestroyImage();
  DestroyScratch();
  useShm_ = false;
}

bool X11ScreenGrabber::Grab(WindowHandle source, std::int32_t x, std::int32_t y, std::int32_t width,
                            std::int32_t height, Frame* frame) {
  keptValid_ = false;
  if (frame == nullptr || !connection_.Alive() || source == kNoWindow) return false;
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) return false;
  Display* display = connection_.display();
  // Another window's (x, y) are relative to its client area; what is on the
  // screen there is read from the root.
  long rootX = x, rootY = y;
  if (source != connection_.root()) {
    int translatedX = 0, translatedY = 0;
    Window child = None;
    X11ErrorTrap trap(display);
    Bool sameScreen =
        XTranslateCoordinates(display, static_cast<Window>(source), connection_.root(), x, y,
                              &translatedX, &translatedY, &child);
    if (trap.Failed() || !sameScreen) return false;
    rootX = translatedX;
    rootY = translatedY;
  }
  if (!EnsureImage(width, height)) return false;

  const long screenWidth = DisplayWidth(display, connection_.screen());
  const long screenHeight = DisplayHeight(display, connection_.screen());
  const long left = std::max(rootX, 0L), top = std::max(rootY, 0L);
  const long right = std::min(rootX + width, screenWidth);
  const long bottom = std::min(rootY + height, screenHeight);
  if (right > left && bottom > top) {
    if (!ReadRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                  static_cast<int>(bottom - top), static_cast<int>(left - rootX),
                  static_cast<int>(top - rootY)))
      return false;
    FillOutside(static_cast<int>(left - rootX), static_cast<int>(top - rootY),
                static_cast<int>(right - rootX), static_cast<int>(bottom - rootY));
  } else {
    FillOutside(0, 0, 0, 0);
  }
  SwapToLittleEndian(image_);
  // Only a rectangle read whole from the screen can be brought up to date
  // part by part.
  keptValid_ = left == rootX && top == rootY && right == rootX + width && bottom == rootY + height;
  keptX_ = rootX;
  keptY_ = rootY;
  Describe(width, height, frame);
  return true;
}

bool X11ScreenGrabber::Regrab(WindowHandle source, std::int32_t x, std::int32_t y,
                              std::int32_t width, std::int32_t height,
                              const std::vector<Rect>& parts, Frame* frame) {
  if (frame == nullptr || !keptValid_ || image_ == nullptr || !connection_.Alive()) return false;
  Display* display = connection_.display();
  // Screen coordinates only: a window's origin may have moved since.
  if (source != connection_.root() || x != keptX_ || y != keptY_ || width != image_->width ||
      height != image_->height) {
    return false;
  }
  // Rows are copied as bytes, in the server's order, which must already be
  // the frame's (little-endian) order.
  if ((image_->bits_per_pixel != 32 && image_->bits_per_pixel != 24) ||
      image_->byte_order != LSBFirst) {
    return false;
  }
  // The screen may have shrunk since the kept frame was read whole.
  if (x < 0 || y < 0 || std::int64_t{x} + width > DisplayWidth(display, connection_.screen()) ||
      std::int64_t{y} + height > DisplayHeight(display, connection_.screen())) {
    keptValid_ = false;
    return false;
  }
  for (const Rect& part : parts) {
    const int left = std::max(part.left, 0);
    const int top = std::max(part.top, 0);
    const int right = std::min(part.right, width);
    const int bottom = std::min(part.bottom, height);
    if (right <= left || bottom <= top) continue;
    // Through the scratch segment when there is one; a plain image when
    // shared memory is off or the segment cannot be had.
    const bool ok =
        (useShm_ && ReadRectScratch(x + left, y + top, right - left, bottom - top, left, top)) ||
        ReadRectPlain(x + left, y + top, right - left, bottom - top, left, top);
    if (!ok) {
      // Part of the frame may be new and part old: only a whole read mends it.
      keptValid_ = false;
      return false;
    }
  }
  Describe(width, height, frame);
  return true;
}

void X11ScreenGrabber::Describe(int width, int height, Frame* frame) {
  frame->Width = width;
  frame->Height = height;
  frame->BitsPerPixel = image_->bits_per_pixel;
  frame->BytesPerLine = image_->bytes_per_line;
  const bool palette = IsPaletteDisplay();
  frame->RedMask = palette ? 0 : static_cast<std::uint32_t>(visual_->red_mask);
  frame->GreenMask = palette ? 0 : static_cast<std::uint32_t>(visual_->green_mask);
  frame->BlueMask = palette ? 0 : static_cast<std::uint32_t>(visual_->blue_mask);
  frame->Pixels = reinterpret_cast<std::uint8_t*>(image_->data);
}

// The image is kept for the next grab of the same size (a recording grabs
// one size again and again); it goes when the size changes or with this
// object. Nothing else outlives a grab, so there is nothing to free here.
void X11ScreenGrabber::ReleaseFrame() {}

bool X11ScreenGrabber::IsPaletteDisplay() {
  if (visual_ == nullptr) return false;
  const int visualClass = visual_->c_class;
  return depth_ <= 8 && (visualClass == PseudoColor || visualClass == GrayScale ||
                         visualClass == StaticColor || visualClass == StaticGray);
}

bool X11ScreenGrabber::ReadPalette(WindowHandle paletteWindow, Palette* palette) {
  if (palette == nullptr || !connection_.Alive() || !IsPaletteDisplay()) return false;
  Display* display = connection_.display();
  // The colours on the screen are those of the installed colormap: the palette
  // window's own when it is installed, else the one the server has in use.
  Colormap colormap = DefaultColormap(display, connection_.screen());
  XWindowAttributes attributes;
  X11ErrorTrap windowTrap(display);
  Status ok = paletteWindow != kNoWindow &&
              XGetWindowAttributes(display, static_cast<Window>(paletteWindow), &attributes);
  if (!windowTrap.Failed() && ok && attributes.map_installed && attributes.colormap != None) {
    colormap = attributes.colormap;
  } else {
    int count = 0;
    Colormap* installed = XListInstalledColormaps(display, connection_.root(), &count);
    if (installed != nullptr && count > 0) colormap = installed[0];
    if (installed != nullptr) XFree(installed);
  }

  const int entries = std::min(256, visual_->map_entries);
  XColor colours[256];
  for (int i = 0; i < entries; ++i) {
    colours[i].pixel = static_cast<unsigned long>(i);
    colours[i].flags = DoRed | DoGreen | DoBlue;
  }
  X11ErrorTrap trap(display);
  XQueryColors(display, colormap, colours, entries);
  if (trap.Failed()) return false;
  *palette = Palette{};
  for (int i = 0; i < entries; ++i) {
    palette->Entries[i] = PaletteEntry{static_cast<std::uint8_t>(colours[i].red >> 8),
                                       static_cast<std::uint8_t>(colours[i].green >> 8),
                                       static_cast<std::uint8_t>(colours[i].blue >> 8), 0};
  }
  return true;
}

bool X11ScreenGrabber::CurrentCursor(CursorImage* cursor) {
  if (cursor == nullptr || !xfixes_ || !connection_.Alive()) return false;
  X11ErrorTrap trap(connection_.display());
  XFixesCursorImage* image = XFixesGetCursorImage(connection_.display());
  if (trap.Failed() || image == nullptr) {
    if (image != nullptr) XFree(image);
    return false;
  }
  const std::size_t count = static_cast<std::size_t>(image->width) * image->height;
  cursor->Width = image->width;
  cursor->Height = image->height;
  cursor->XHot = image->xhot;
  cursor->YHot = image->yhot;
  cursor->Argb.resize(count);
  // XFixes hands out premultiplied ARGB, one pixel in each unsigned long.
  bool visible = false;
  for (std::size_t i = 0; i < count; ++i) {
    const auto pixel = static_cast<std::uint32_t>(image->pixels[i] & 0xFFFFFFFFUL);
    cursor->Argb[i] = pixel;
    visible = visible || (pixel >> 24) != 0;
  }
  XFree(image);
  return visible && count > 0;
}

bool X11ScreenGrabber::EnsureImage(int width, int height) {
  if (image_ != nullptr && image_->width == width && image_->height == height) return true;
  DestroyImage();
  if (useShm_ && CreateShmImage(width, height)) return true;
  // MIT-SHM refused (for example by a server on another machine): plain
  // images from now on.
  useShm_ = false;
  return CreatePlainImage(width, height);
}

bool X11ScreenGrabber::CreateShmImage(int width, int height) {
  Display* display = connection_.display();
  image_ = XShmCreateImage(display, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr, &shm_,
                           static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (image_ == nullptr) return false;
  const std::size_t size = static_cast<std::size_t>(image_->bytes_per_line) * height;
  shm_.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (shm_.shmid < 0) {
    XDestroyImage(image_);
    image_ = nullptr;
    return false;
  }
  shm_.shmaddr = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
  if (shm_.shmaddr == reinterpret_cast<char*>(-1)) {
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    XDestroyImage(image_);
    image_ = nullptr;
    return false;
  }
  image_->data = shm_.shmaddr;
  shm_.readOnly = False;
  X11ErrorTrap trap(display);
  XShmAttach(display, &shm_);
  const bool failed = trap.Failed();
  // Marked for removal now, so the segment goes away with the last detach even
  // if this process dies.
  shmctl(shm_.shmid, IPC_RMID, nullptr);
  if (failed) {
    shmdt(shm_.shmaddr);
    XDestroyImage(image_);
    image_ = nullptr;
    return false;
  }
  shmAttached_ = true;
  return true;
}

bool X11ScreenGrabber::CreatePlainImage(int width, int height) {
  Display* display = connection_.display();
  image_ = XCreateImage(display, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                        static_cast<unsigned>(width), static_cast<unsigned>(height),
                        BitmapPad(display), 0);
  if (image_ == nullptr) return false;
  image_->data =
      static_cast<char*>(std::calloc(static_cast<std::size_t>(image_->bytes_per_line), height));
  if (image_->data == nullptr) {
    XDestroyImage(image_);
    image_ = nullptr;
    return false;
  }
  return true;
}

void X11ScreenGrabber::DestroyImage() {
  keptValid_ = false;
  if (image_ == nullptr) return;
  if (shmAttached_) {
    if (connection_.Alive()) {
      XShmDetach(connection_.display(), &shm_);
      XSync(connection_.display(), False);
    }
    XDestroyImage(image_);  // frees the header only; the data is the segment
    shmdt(shm_.shmaddr);
    shmAttached_ = false;
    shm_ = XShmSegmentInfo{};
  } else {
    XDestroyImage(image_);
  }
  image_ = nullptr;
}

bool X11ScreenGrabber::ReadRect(int x, int y, int width, int height, int destX, int destY) {
  if (shmAttached_ && ReadRectShm(x, y, width, height, destX, destY)) return true;
  return ReadRectPlain(x, y, width, height, destX, destY);
}

bool X11ScreenGrabber::ReadRectPlain(int x, int y, int width, int height, int destX, int destY) {
  Display* display = connection_.display();
  X11ErrorTrap trap(display);
  XImage* part = XGetImage(display, connection_.root(), x, y, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (trap.Failed() || part == nullptr) {
    if (part != nullptr) XDestroyImage(part);
    return false;
  }
  // Same layout (the usual case): whole rows at once; otherwise pixel by pixel.
  if (part->bits_per_pixel == image_->bits_per_pixel && part->byte_order == image_->byte_order &&
      image_->bits_per_pixel % 8 == 0) {
    const int bytesPerPixel = image_->bits_per_pixel / 8;
    for (int row = 0; row < height; ++row) {
      std::memcpy(image_->data + static_cast<std::ptrdiff_t>(destY + row) * image_->bytes_per_line +
                      static_cast<std::ptrdiff_t>(destX) * bytesPerPixel,
                  part->data + static_cast<std::ptrdiff_t>(row) * part->bytes_per_line,
                  static_cast<std::size_t>(width) * bytesPerPixel);
    }
  } else {
    for (int row = 0; row < height; ++row) {
      for (int column = 0; column < width; ++column)
        XPutPixel(image_, destX + column, destY + row, XGetPixel(part, column, row));
    }
  }
  XDestroyImage(part);
  return true;
}

bool X11ScreenGrabber::ReadRectShm(int x, int y, int width, int height, int destX, int destY) {
  Display* display = connection_.display();
  if (destX == 0 && destY == 0 && width == image_->width && height == image_->height) {
    X11ErrorTrap trap(display);
    Status ok = XShmGetImage(display, connection_.root(), image_, x, y, AllPlanes);
    return !trap.Failed() && ok;
  }
  if (image_->bits_per_pixel % 8 != 0) return false;
  XImage* part =
      XShmCreateImage(display, visual_, static_cast<unsigned>(depth_), ZPixmap, image_->data, &shm_,
                      static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (part == nullptr) return false;
  X11ErrorTrap trap(display);
  Status ok = XShmGetImage(display, connection_.root(), part, x, y, AllPlanes);
  const int partStride = part->bytes_per_line;
  XDestroyImage(part);
  if (trap.Failed() || !ok) return false;
  // Row i of the part starts at i * partStride and moves to a place at or
  // after that (the full rows are at least as long), so going from the last
  // row up never overwrites a row not yet moved.
  const int bytesPerPixel = image_->bits_per_pixel / 8;
  char* data = image_->data;
  for (int row = height - 1; row >= 0; --row) {
    std::memmove(data + static_cast<std::ptrdiff_t>(destY + row) * image_->bytes_per_line +
                     static_cast<std::ptrdiff_t>(destX) * bytesPerPixel,
                 data + static_cast<std::ptrdiff_t>(row) * partStride,
                 static_cast<std::size_t>(width) * bytesPerPixel);
  }
  return true;
}

bool X11ScreenGrabber::EnsureScratch(std::size_t bytes) {
  if (scratchBytes_ >= bytes) return true;
  DestroyScratch();
  // Room for a quarter of the kept frame at once, so that the parts of a
  // usual update fit without growing again.
  const std::size_t quarter =
      image_ != nullptr ? static_cast<std::size_t>(image_->bytes_per_line) * image_->height / 4 : 0;
  const std::size_t size = std::max(bytes, quarter);
  scratch_.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (scratch_.shmid < 0) return false;
  scratch_.shmaddr = static_cast<char*>(shmat(scratch_.shmid, nullptr, 0));
  if (scratch_.shmaddr == reinterpret_cast<char*>(-1)) {
    shmctl(scratch_.shmid, IPC_RMID, nullptr);
    scratch_ = XShmSegmentInfo{};
    return false;
  }
  scratch_.readOnly = False;
  X11ErrorTrap trap(connection_.display());
  XShmAttach(connection_.display(), &scratch_);
  const bool failed = trap.Failed();
  shmctl(scratch_.shmid, IPC_RMID, nullptr);
  if (failed) {
    shmdt(scratch_.shmaddr);
    scratch_ = XShmSegmentInfo{};
    return false;
  }
  scratchBytes_ = size;
  return true;
}

void X11ScreenGrabber::DestroyScratch() {
  if (scratchBytes_ == 0) return;
  if (connection_.Alive()) {
    XShmDetach(connection_.display(), &scratch_);
    XSync(connection_.display(), False);
  }
  shmdt(scratch_.shmaddr);
  scratch_ = XShmSegmentInfo{};
  scratchBytes_ = 0;
}

bool X11ScreenGrabber::ReadRectScratch(int x, int y, int width, int height, int destX, int destY) {
  Display* display = connection_.display();
  const int bytesPerPixel = image_->bits_per_pixel / 8;
  // The header first: it says how the server packs the part's rows.
  XImage* part =
      XShmCreateImage(display, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr, &scratch_,
                      static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (part == nullptr) return false;
  const std::size_t partStride = static_cast<std::size_t>(part->bytes_per_line);
  if (part->bits_per_pixel != image_->bits_per_pixel ||
      !EnsureScratch(partStride * static_cast<std::size_t>(height))) {
    XDestroyImage(part);
    return false;
  }
  // The segment may have been made anew just now: the header names it.
  part->obdata = reinterpret_cast<char*>(&scratch_);
  part->data = scratch_.shmaddr;
  X11ErrorTrap trap(display);
  const Status ok = XShmGetImage(display, connection_.root(), part, x, y, AllPlanes);
  XDestroyImage(part);  // the header only; the data is the segment
  if (trap.Failed() || !ok) return false;
  for (int row = 0; row < height; ++row) {
    std::memcpy(image_->data + static_cast<std::ptrdiff_t>(destY + row) * image_->bytes_per_line +
                    static_cast<std::ptrdiff_t>(destX) * bytesPerPixel,
                scratch_.shmaddr + partStride * static_cast<std::size_t>(row),
                static_cast<std::size_t>(width) * bytesPerPixel);
  }
  return true;
}

void X11ScreenGrabber::FillOutside(int left, int top, int right, int bottom) {
  const int bytesPerPixel = std::max(1, image_->bits_per_pixel / 8);
  // TrueColor black is pixel 0; on palette displays it is the colormap's black.
  const int black = IsPaletteDisplay()
                        ? static_cast<int>(BlackPixel(connection_.display(), connection_.screen()))
                        : 0;
  const int fill = bytesPerPixel == 1 ? black : 0;
  const std::size_t rowBytes = static_cast<std::size_t>(image_->bytes_per_line);
  for (int y = 0; y < image_->height; ++y) {
    char* row = image_->data + static_cast<std::ptrdiff_t>(y) * image_->bytes_per_line;
    if (y < top || y >= bottom || right <= left) {
      std::memset(row, fill, rowBytes);
      continue;
    }
    if (left > 0) std::memset(row, fill, static_cast<std::size_t>(left) * bytesPerPixel);
    if (right < image_->width) {
      std::memset(row + static_cast<std::ptrdiff_t>(right) * bytesPerPixel, fill,
                  static_cast<std::size_t>(image_->width - right) * bytesPerPixel);
    }
  }
}

}  // namespace framory
