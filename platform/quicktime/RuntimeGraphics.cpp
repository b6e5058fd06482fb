// Graphics worlds and the small QuickDraw helpers. A graphics world made
// from a bitmap wraps the bitmap's own pixels (no copy): the codec reads
// whatever the bitmap holds when it compresses. The current world starts as
// a port standing for the screen.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/quicktime/QtRuntime.h"

namespace {

PixMap gScreenPixMap{nullptr, 0, {0, 0, 0, 0}, 32, kQtPixelFormat32BGRX};
PixMapPtr gScreenPixMapPtr = &gScreenPixMap;
CGrafPort gScreenPort{0, &gScreenPixMapPtr, {0, 0, 0, 0}};
GDevice gScreenDevice{0, &gScreenPixMapPtr};
GDPtr gScreenDevicePtr = &gScreenDevice;

CGrafPtr gCurrentPort = &gScreenPort;
GDHandle gCurrentDevice = &gScreenDevicePtr;

// A graphics world owns its port, its pixel map and the handle to it.
struct World {
  CGrafPort port;  // first: a GWorldPtr is the address of this field
  PixMap pixMap;
  PixMapPtr pixMapPtr;
};

}  // namespace

OSErr QtRt_NewGWorldFromHBITMAP(GWorldPtr* offscreenGWorld, CTabHandle, GDHandle, GWorldFlags,
                                void* newHBITMAP, void*) {
  if (offscreenGWorld == nullptr) return qtrt::kParamErr;
  *offscreenGWorld = nullptr;
  const auto* bitmap = static_cast<const QtBitmap*>(newHBITMAP);
  // Only 32-bit bitmaps whose size a QuickDraw rectangle can hold.
  constexpr std::int32_t kLargest = std::numeric_limits<std::int16_t>::max();
  if (bitmap == nullptr || bitmap->pixels == nullptr || bitmap->bitsPerPixel != 32 ||
      bitmap->width <= 0 || bitmap->height <= 0 || bitmap->width > kLargest ||
      bitmap->height > kLargest || bitmap->rowBytes < bitmap->width * 4) {
    return qtrt::kParamErr;
  }
  auto* world = static_cast<World*>(std::calloc(1, sizeof(World)));
  if (world == nullptr) return qtrt::kMemFull;
  const Rect bounds{0, 0, static_cast<std::int16_t>(bitmap->height),
                    static_cast<std::int16_t>(bitmap->width)};
  world->pixMap.baseAddr = static_cast<Ptr>(bitmap->pixels);
  world->pixMap.rowBytes = bitmap->rowBytes;
  world->pixMap.bounds = bounds;
  world->pixMap.pixelSize = 32;
  world->pixMap.pixelFormat = kQtPixelFormat32BGRX;
  world->pixMapPtr = &world->pixMap;
  world->port.portPixMap = &world->pixMapPtr;
  world->port.portRect = bounds;
  *offscreenGWorld = &world->port;
  return qtrt::kNoErr;
}

void QtRt_DisposeGWorld(GWorldPtr offscreenGWorld) {
  if (offscreenGWorld == nullptr || offscreenGWorld == &gScreenPort) return;
  if (gCurrentPort == offscreenGWorld) {
    gCurrentPort = &gScreenPort;
    gCurrentDevice = &gScreenDevicePtr;
  }
  std::free(reinterpret_cast<World*>(offscreenGWorld));
}

void QtRt_GetGWorld(CGrafPtr* port, GDHandle* gdh) {
  if (port != nullptr) *port = gCurrentPort;
  if (gdh != nullptr) *gdh = gCurrentDevice;
}

void QtRt_SetGWorld(CGrafPtr port, GDHandle gdh) {
  gCurrentPort = port != nullptr ? port : &gScreenPort;
  // A world brings its own device when none is named.
  gCurrentDevice = gdh != nullptr ? gdh : &gScreenDevicePtr;
}

Fixed QtRt_FixRatio(int16_t numer, int16_t denom) {
  if (denom == 0) {
    return numer >= 0 ? std::numeric_limits<Fixed>::max() : std::numeric_limits<Fixed>::min();
  }
  const std::int64_t ratio = (std::int64_t{numer} * 65536) / denom;
  if (ratio > std::numeric_limits<Fixed>::max()) return std::numeric_limits<Fixed>::max();
  if (ratio < std::numeric_limits<Fixed>::min()) return std::numeric_limits<Fixed>::min();
  return static_cast<Fixed>(ratio);
}

void QtRt_c2pstrcpy(Str255 dst, const char* src) {
  if (dst == nullptr) return;
  const std::size_t length = src != nullptr ? strnlen(src, 255) : 0;
  dst[0] = static_cast<unsigned char>(length);
  if (length > 0) std::memmove(dst + 1, src, length);
}
