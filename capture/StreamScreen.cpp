#include "capture/StreamScreen.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace framory {

namespace {

// Larger sides than any display has; a producer's garbage size must not
// make us allocate gigabytes.
constexpr std::int32_t kMaxSide = 16384;

void ConvertRow(const std::uint8_t* from, std::uint32_t* to, std::int32_t width,
                StreamPixelOrder order) {
  if (order == StreamPixelOrder::Bgrx) {
    for (std::int32_t x = 0; x < width; ++x, from += 4) {
      to[x] = static_cast<std::uint32_t>(from[0]) | static_cast<std::uint32_t>(from[1]) << 8 |
              static_cast<std::uint32_t>(from[2]) << 16;
    }
  } else {
    for (std::int32_t x = 0; x < width; ++x, from += 4) {
      to[x] = static_cast<std::uint32_t>(from[2]) | static_cast<std::uint32_t>(from[1]) << 8 |
              static_cast<std::uint32_t>(from[0]) << 16;
    }
  }
}

}  // namespace

bool StreamScreen::Publish(const StreamPicture& picture, const std::vector<Rect>* changed) {
  if (picture.Pixels == nullptr || picture.Width <= 0 || picture.Height <= 0 ||
      picture.Width > kMaxSide || picture.Height > kMaxSide || picture.Stride < picture.Width * 4) {
    return false;
  }
  const std::size_t count = static_cast<std::size_t>(picture.Width) * picture.Height;
  Picture& filling = *filling_;
  filling.Pixels.resize(count);
  filling.Width = picture.Width;
  filling.Height = picture.Height;
  for (std::int32_t y = 0; y < picture.Height; ++y) {
    const std::int32_t from = picture.BottomUp ? picture.Height - 1 - y : y;
    ConvertRow(picture.Pixels + static_cast<std::ptrdiff_t>(from) * picture.Stride,
               filling.Pixels.data() + static_cast<std::size_t>(y) * picture.Width, picture.Width,
               picture.Order);
  }

  std::lock_guard lock(mutex_);
  const bool resized = publishedWidth_ != picture.Width || publishedHeight_ != picture.Height;
  publishedWidth_ = picture.Width;
  publishedHeight_ = picture.Height;
  std::swap(filling_, newest_);
  // A copy out still reads the picture that came back: the next one goes
  // into a buffer of its own.
  if (filling_.use_count() > 1) filling_ = std::make_shared<Picture>();
  fresh_ = true;
  newestNumber_ = ++published_;
  const Rect whole{0, 0, picture.Width, picture.Height};
  if (changed == nullptr || resized) {
    reportedChanges_.push_back(Report{newestNumber_, whole});
  } else {
    for (const Rect& r : *changed) {
      // A bottom-up picture's rectangles are counted from its bottom row.
      reportedChanges_.push_back(Report{newestNumber_, picture.BottomUp
                                                           ? Rect{r.left, picture.Height - r.bottom,
                                                                  r.right, picture.Height - r.top}
                                                           : r});
    }
  }
  // Bounded however long the GUI thread does not look: the log keeps a
  // bounding box beyond its own limit anyway.
  if (reportedChanges_.size() > ScreenChangeLog::kMaxRects) {
    reportedChanges_.assign(1, Report{newestNumber_, whole});
  }
  return true;
}

void StreamScreen::PublishPointer(bool visible, Point position) {
  std::lock_guard lock(mutex_);
  pointerVisible_ = visible;
  pointer_ = position;
}

void StreamScreen::PublishPointerImage(const CursorImage& image) {
  std::lock_guard lock(mutex_);
  pointerImage_ = image;
  pointerImageChanged_ = true;
}

void StreamScreen::SetPointerEmbedded(bool embedded) {
  std::lock_guard lock(mutex_);
  pointerEmbedded_ = embedded;
}

void StreamScreen::TakeNewest() {
  if (!fresh_) return;
  std::swap(newest_, reading_);
  readingNumber_ = newestNumber_;
  fresh_ = false;
}

void StreamScreen::Latch() {
  std::lock_guard lock(mutex_);
  TakeNewest();
  latched_ = true;
}

void StreamScreen::Unlatch() {
  std::lock_guard lock(mutex_);
  latched_ = false;
}

std::int32_t StreamScreen::Width() const {
  std::lock_guard lock(mutex_);
  return fresh_ && !latched_ ? newest_->Width : reading_->Width;
}

std::int32_t StreamScreen::Height() const {
  std::lock_guard lock(mutex_);
  return fresh_ && !latched_ ? newest_->Height : reading_->Height;
}

Point StreamScreen::PointerPosition() const {
  std::lock_guard lock(mutex_);
  if (!pointerVisible_ || pointerEmbedded_) return Point{-1, -1};
  return pointer_;
}

std::uint64_t StreamScreen::PicturesPublished() const {
  std::lock_guard lock(mutex_);
  return published_;
}

bool StreamScreen::Grab(WindowHandle source, std::int32_t x, std::int32_t y, std::int32_t width,
                        std::int32_t height, Frame* frame) {
  if (frame == nullptr || source != kStreamWindow || width <= 0 || height <= 0 ||
      width > kMaxSide || height > kMaxSide) {
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    if (!latched_) TakeNewest();
    latched_ = false;
  }
  Picture& reading = *reading_;
  if (reading.Pixels.empty()) return false;

  frame->Width = width;
  frame->Height = height;
  frame->BitsPerPixel = 32;
  frame->RedMask = 0xFF0000;
  frame->GreenMask = 0x00FF00;
  frame->BlueMask = 0x0000FF;
  frame->Colors = nullptr;
  const bool inside = x >= 0 && y >= 0 && std::int64_t{x} + width <= reading.Width &&
                      std::int64_t{y} + height <= reading.Height;
  if (inside) {
    // A view of the picture itself: no copy.
    frame->BytesPerLine = reading.Width * 4;
    frame->Pixels = reinterpret_cast<std::uint8_t*>(
        reading.Pixels.data() + static_cast<std::size_t>(y) * reading.Width + x);
    return true;
  }
  // A rectangle reaching beyond the picture: the part inside, black around.
  clipped_.assign(static_cast<std::size_t>(width) * height, 0);
  const std::int64_t left = std::max<std::int64_t>(x, 0);
  const std::int64_t right = std::min<std::int64_t>(std::int64_t{x} + width, reading.Width);
  const std::int64_t top = std::max<std::int64_t>(y, 0);
  const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{y} + height, reading.Height);
  for (std::int64_t row = top; row < bottom && left < right; ++row) {
    std::memcpy(clipped_.data() + static_cast<std::size_t>(row - y) * width + (left - x),
                reading.Pixels.data() + static_cast<std::size_t>(row) * reading.Width + left,
                static_cast<std::size_t>(right - left) * 4);
  }
  frame->BytesPerLine = width * 4;
  frame->Pixels = reinterpret_cast<std::uint8_t*>(clipped_.data());
  return true;
}

void StreamScreen::NewestSize(std::int32_t* width, std::int32_t* height) const {
  std::lock_guard lock(mutex_);
  *width = publishedWidth_;
  *height = publishedHeight_;
}

bool StreamScreen::CopyNewest(std::int32_t x, std::int32_t y, std::int32_t width,
                              std::int32_t height, std::vector<std::uint32_t>* pixels) const {
  if (pixels == nullptr || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
    return false;
  }
  std::shared_ptr<const Picture> held;
  {
    std::lock_guard lock(mutex_);
    held = fresh_ ? newest_ : reading_;
  }
  const Picture& picture = *held;
  bool copied = false;
  if (!picture.Pixels.empty()) {
    const std::size_t count = static_cast<std::size_t>(width) * height;
    const bool inside = x >= 0 && y >= 0 && std::int64_t{x} + width <= picture.Width &&
                        std::int64_t{y} + height <= picture.Height;
    // Black only where the rectangle reaches beyond the picture.
    if (inside) {
      pixels->resize(count);
    } else {
      pixels->assign(count, 0);
    }
    const std::int64_t left = std::max<std::int64_t>(x, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{x} + width, picture.Width);
    const std::int64_t top = std::max<std::int64_t>(y, 0);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{y} + height, picture.Height);
    for (std::int64_t row = top; row < bottom && left < right; ++row) {
      std::memcpy(pixels->data() + static_cast<std::size_t>(row - y) * width + (left - x),
                  picture.Pixels.data() + static_cast<std::size_t>(row) * picture.Width + left,
                  static_cast<std::size_t>(right - left) * 4);
    }
    copied = true;
  }
  // Let go under the lock, where the producer looks whether the picture is
  // still held.
  std::lock_guard lock(mutex_);
  held.reset();
  return copied;
}

bool StreamScreen::CurrentCursor(CursorImage* cursor) {
  if (cursor == nullptr) return false;
  std::lock_guard lock(mutex_);
  if (!pointerVisible_ || pointerEmbedded_ || pointerImage_.Width <= 0 ||
      pointerImage_.Height <= 0) {
    return false;
  }
  *cursor = pointerImage_;
  return std::any_of(cursor->Argb.begin(), cursor->Argb.end(),
                     [](std::uint32_t p) { return (p >> 24) != 0; });
}

void StreamScreen::TakeReports() {
  std::vector<Rect> changes;
  bool imageChanged = false;
  {
    std::lock_guard lock(mutex_);
    const std::uint64_t upTo = latched_ ? readingNumber_ : published_;
    const auto later =
        std::stable_partition(reportedChanges_.begin(), reportedChanges_.end(),
                              [upTo](const Report& report) { return report.Picture <= upTo; });
    for (auto it = reportedChanges_.begin(); it != later; ++it) changes.push_back(it->Area);
    reportedChanges_.erase(reportedChanges_.begin(), later);
    imageChanged = std::exchange(pointerImageChanged_, false);
  }
  for (const Rect& r : changes) log_.AddDamage(r);
  if (imageChanged) log_.CursorImageChanged();
}

bool StreamScreen::Unchanged(const ShotView& view) {
  TakeReports();
  return log_.Unchanged(view);
}

bool StreamScreen::FrameTaken(const ShotView& view, std::vector<Rect>* /*drawn*/) {
  TakeReports();
  log_.FrameTaken(view);
  // The grab is a view of the newest picture already: nothing to re-read in
  // parts.
  return false;
}

void StreamScreen::Forget() { log_.Forget(); }

}  // namespace framory
