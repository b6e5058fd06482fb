#include "capture/FrameGrabber.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "base/PixelChannel.h"
#include "capture/ChangedParts.h"
#include "writers/OutputFormats.h"

namespace framory {

namespace {

std::uint32_t LoadPixel(const std::uint8_t* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return v;
}

void StorePixel(std::uint8_t* p, int bytes, std::uint32_t v) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Premultiplied "over": result = source + destination × (255 − alpha) / 255.
std::uint8_t Over(std::uint8_t src, std::uint8_t dst, std::uint32_t inverseAlpha) {
  std::uint32_t v = src + (dst * inverseAlpha + 127) / 255;
  return static_cast<std::uint8_t>(std::min<std::uint32_t>(v, 255));
}

std::uint8_t NearestPaletteIndex(const Palette& palette, int r, int g, int b) {
  int best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (int i = 0; i < 256; ++i) {
    const PaletteEntry& e = palette.Entries[i];
    int dr = e.Red - r, dg = e.Green - g, db = e.Blue - b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
      if (d == 0) break;
    }
  }
  return static_cast<std::uint8_t>(best);
}

// The pixels of a frame under the pointer, kept before the pointer is drawn
// and put back once the frame has been used. The grabber keeps its frame for
// the next shot, which may re-read only what changed on screen: a pointer
// left in it would stay behind wherever the pointer has been.
class PixelPatch {
 public:
  void Save(const Frame& frame, const Rect& area) {
    frame_ = frame;
    area_ = area;
    bytes_.clear();
    if (area.right <= area.left || area.bottom <= area.top) return;
    const std::size_t rowBytes = RowBytes();
    bytes_.resize(rowBytes * static_cast<std::size_t>(area.bottom - area.top));
    for (std::int32_t y = area.top; y < area.bottom; ++y) {
      std::memcpy(bytes_.data() + rowBytes * static_cast<std::size_t>(y - area.top), Start(y),
                  rowBytes);
    }
  }
  void Restore() {
    if (bytes_.empty()) return;
    const std::size_t rowBytes = RowBytes();
    for (std::int32_t y = area_.top; y < area_.bottom; ++y) {
      std::memcpy(Start(y), bytes_.data() + rowBytes * static_cast<std::size_t>(y - area_.top),
                  rowBytes);
    }
    bytes_.clear();
  }

 private:
  std::size_t RowBytes() const {
    return static_cast<std::size_t>(area_.right - area_.left) *
           static_cast<std::size_t>(frame_.BitsPerPixel / 8);
  }
  std::uint8_t* Start(std::int32_t y) const {
    return frame_.Row(y) + static_cast<std::ptrdiff_t>(area_.left) * (frame_.BitsPerPixel / 8);
  }
  Frame frame_;
  Rect area_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

Rect CursorFootprint(const Frame& frame, const CursorImage& cursor, std::int32_t x,
                     std::int32_t y) {
  if (x < 0 || y < 0 || frame.Empty() || cursor.Width <= 0 || cursor.Height <= 0) return Rect{};
  const int bytes = frame.BitsPerPixel / 8;
  if (bytes < 1 || bytes > 4 || frame.BitsPerPixel % 8 != 0) return Rect{};
  // Wide arithmetic: a hot spot far outside the image must not wrap.
  const std::int64_t left = std::int64_t{x} - cursor.XHot;
  const std::int64_t top = std::int64_t{y} - cursor.YHot;
  const std::int64_t l = std::max<std::int64_t>(left, 0);
  const std::int64_t t = std::max<std::int64_t>(top, 0);
  const std::int64_t r = std::min<std::int64_t>(left + cursor.Width, frame.Width);
  const std::int64_t b = std::min<std::int64_t>(top + cursor.Height, frame.Height);
  if (r <= l || b <= t) return Rect{};
  return Rect{static_cast<std::int32_t>(l), static_cast<std::int32_t>(t),
              static_cast<std::int32_t>(r), static_cast<std::int32_t>(b)};
}

void DrawCursor(Frame& frame, const CursorImage& cursor, std::int32_t x, std::int32_t y,
                const Palette* palette) {
  // A hot spot left of or above the region is not drawn; one at the right or
  // bottom is drawn and clipped by the frame.
  if (x < 0 || y < 0 || frame.Empty()) return;
  if (cursor.Width <= 0 || cursor.Height <= 0 ||
      cursor.Argb.size() < static_cast<std::size_t>(cursor.Width) * cursor.Height) {
    return;
  }
  if (frame.BitsPerPixel == 8 && palette == nullptr) return;
  const int bytes = frame.BitsPerPixel / 8;
  if (bytes < 1 || bytes > 4) return;

  const PixelChannel red(frame.RedMask), green(frame.GreenMask), blue(frame.BlueMask);
  const std::int32_t left = x - cursor.XHot;
  const std::int32_t top = y - cursor.YHot;
  const std::int32_t fromRow = std::max(0, -top);
  const std::int32_t toRow = std::min(cursor.Height, frame.Height - top);
  const std::int32_t fromCol = std::max(0, -left);
  const std::int32_t toCol = std::min(cursor.Width, frame.Width - left);

  for (std::int32_t cy = fromRow; cy < toRow; ++cy) {
    std::uint8_t* row = frame.Row(top + cy);
    const std::uint32_t* src = cursor.Argb.data() + static_cast<std::size_t>(cy) * cursor.Width;
    for (std::int32_t cx = fromCol; cx < toCol; ++cx) {
      const std::uint32_t argb = src[cx];
      const std::uint32_t alpha = argb >> 24;
      if (alpha == 0) continue;
      const std::uint32_t inverse = 255 - alpha;
      const std::uint8_t sr = static_cast<std::uint8_t>(argb >> 16);
      const std::uint8_t sg = static_cast<std::uint8_t>(argb >> 8);
      const std::uint8_t sb = static_cast<std::uint8_t>(argb);
      std::uint8_t* p = row + static_cast<std::ptrdiff_t>(left + cx) * bytes;
      if (bytes == 1) {
        const PaletteEntry& e = palette->Entries[*p];
        *p = NearestPaletteIndex(*palette, Over(sr, e.Red, inverse), Over(sg, e.Green, inverse),
                                 Over(sb, e.Blue, inverse));
        continue;
      }
      const std::uint32_t pixel = LoadPixel(p, bytes);
      const std::uint32_t rest = pixel & ~(frame.RedMask | frame.GreenMask | frame.BlueMask);
      StorePixel(p, bytes,
                 rest | red.Write(Over(sr, red.Read(pixel), inverse)) |
                     green.Write(Over(sg, green.Read(pixel), inverse)) |
                     blue.Write(Over(sb, blue.Read(pixel), inverse)));
    }
  }
}

FrameGrabber::FrameGrabber(const Settings& settings, ScreenGrabber& screen, CaptureTarget& target,
                           const CaptureLinks& links)
    : settings_(settings), screen_(screen), target_(target), links_(links) {}

void FrameGrabber::TakeShot() {
  const bool clipWasOpen = links_.Clip != nullptr && links_.Clip->ClipOpen();
  const bool hadResult = links_.Stills != nullptr && links_.Stills->HasLastResult();
  auto refreshTitleIfChanged = [&] {
    const bool clipOpen = links_.Clip != nullptr && links_.Clip->ClipOpen();
    const bool hasResult = links_.Stills != nullptr && links_.Stills->HasLastResult();
    if ((clipOpen != clipWasOpen || hasResult != hadResult) && links_.Dialog != nullptr &&
        links_.Dialog->DialogWindow() != kNoWindow) {
      links_.Dialog->RefreshTitle();
    }
  };

  const CaptureDecision decision = target_.ComputeCaptureRegion();
  if (decision.ResizedNoFrame) return;  // the next shot is already scheduled
  const CaptureRegion& region = decision.Region;

  // The encoder captures the screen itself: it only needs the rectangle.
  if (IsEncoderOutputType(settings_.OutputType())) {
    if (links_.Clip != nullptr)
      links_.Clip->DeliverMovieFrame(nullptr, kNoWindow, region.ScreenRect);
    refreshTitleIfChanged();
    return;
  }

  // Movie shots of a screen that did not change since the clip's previous
  // frame are stored as repeats: nothing is grabbed, composed or encoded.
  // Still pictures are always taken.
  const bool movie = IsFileMovieOutputType(settings_.OutputType());
  std::vector<Rect> drawn;
  bool drawnKnown = false;
  if (movie && changes_ != nullptr && links_.Clip != nullptr) {
    const ShotView view{region.ScreenRect, settings_.PutCursorInBitmap(), region.CursorPosition};
    if (links_.Clip->ClipOpen() && changes_->Unchanged(view) && links_.Clip->RepeatMovieFrame()) {
      refreshTitleIfChanged();
      return;
    }
    drawnKnown = changes_->FrameTaken(view, &drawn);
  }

  // When little was drawn since the previous frame, only that is read into
  // the frame the grabber kept; the grabber refuses when its frame is not of
  // this rectangle (and for window sources, whose origin is not the
  // screen's), and the whole region is read as before.
  Frame frame;
  std::vector<Rect> parts;
  const Rect onScreen{region.SourceOrigin.x, region.SourceOrigin.y,
                      region.SourceOrigin.x + region.Width, region.SourceOrigin.y + region.Height};
  const bool updated =
      drawnKnown && ChangedParts(drawn, onScreen, &parts) &&
      screen_.Regrab(region.SourceWindow, region.SourceOrigin.x, region.SourceOrigin.y,
                     region.Width, region.Height, parts, &frame);
  if (!updated && !screen_.Grab(region.SourceWindow, region.SourceOrigin.x, region.SourceOrigin.y,
                                region.Width, region.Height, &frame)) {
    // Nothing to show (a zero-sized region, a window gone, the display lost):
    // the shot is dropped rather than handing on pixels that were never read.
    screen_.ReleaseFrame();
    return;
  }

  Palette palette;
  const bool hasPalette =
      screen_.IsPaletteDisplay() && screen_.ReadPalette(region.PaletteWindow, &palette);

  // The clip session composes 8-bit frames through the palette they carry.
  frame.Colors = hasPalette ? &palette : nullptr;

  PixelPatch underCursor;
  if (settings_.PutCursorInBitmap()) {
    CursorImage cursor;
    if (screen_.CurrentCursor(&cursor)) {
      underCursor.Save(
          frame, CursorFootprint(frame, cursor, region.CursorPosition.x, region.CursorPosition.y));
      DrawCursor(frame, cursor, region.CursorPosition.x, region.CursorPosition.y, frame.Colors);
    }
  }

  if (movie) {
    if (links_.Clip != nullptr) {
      links_.Clip->DeliverMovieFrame(&frame, region.SourceWindow, Rect{-1, -1, -1, -1});
    }
  } else if (links_.Stills != nullptr && IsPictureOutputType(settings_.OutputType())) {
    // An unknown output type takes no picture, as it makes no clip.
    links_.Stills->SaveStill(frame, frame.Colors);
  }

  // The grabber's frame goes back to what is on screen, for the next shot.
  underCursor.Restore();
  screen_.ReleaseFrame();
  refreshTitleIfChanged();
}

}  // namespace framory
