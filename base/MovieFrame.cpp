// Composition reads each source pixel through a small reader chosen once per
// frame (plain 32-bit, plain 24-bit, masked 32/24/16-bit, palette 8-bit); the
// reader is a template argument, so the per-pixel loop has no branch on the
// format. Channel masks are turned into 8-bit lookup tables on the stack, so
// a 5- or 6-bit channel is widened by bit replication (31 → 255) without a
// division per pixel.
#include "base/MovieFrame.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "base/PixelChannel.h"

namespace framory {

namespace {

constexpr std::uint32_t kBlack = 0;

std::uint32_t Load16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t Load24(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16); }
std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // pixels are little-endian, as is every machine this runs on
}

struct Masks {
  PixelChannel red, green, blue;
  explicit Masks(const Frame& f) : red(f.RedMask), green(f.GreenMask), blue(f.BlueMask) {}
  std::uint32_t Read(std::uint32_t v) const {
    return (std::uint32_t{red.Read(v)} << 16) | (std::uint32_t{green.Read(v)} << 8) | blue.Read(v);
  }
};

struct Plain32 {
  std::uint32_t operator()(const std::uint8_t* row, std::int32_t x) const {
    return Load32(row + 4 * x) & 0x00FFFFFF;
  }
};
struct Plain24 {
  std::uint32_t operator()(const std::uint8_t* row, std::int32_t x) const {
    return Load24(row + 3 * x);
  }
};
struct Masked32 {
  const Masks& m;
  std::uint32_t operator()(const std::uint8_t* row, std::int32_t x) const {
    return m.Read(Load32(row + 4 * x));
  }
};
struct Masked24 {
  const Masks& m;
  std::uint32_t operator()(const std::uint8_t* row, std::int32_t x) const {
    return m.Read(Load24(row + 3 * x));
  }
};
struct Masked16 {
  const Masks& m;
  std::uint32_t operator()(const std::uint8_t* row, std::int32_t x) const {
    return m.Read(Load16(row + 2 * x));
  }
};
struct Indexed8 {
  const std::array<std::uint32_t, 256>& colors;
  std::uint32_t operator()(const std::uint8_t* row, std::int32_t x) const { return colors[row[x]]; }
};

bool StandardMasks(const Frame& f) {
  return f.RedMask == 0xFF0000 && f.GreenMask == 0x00FF00 && f.BlueMask == 0x0000FF;
}

}  // namespace

bool MovieFrame::Create(std::int32_t width, std::int32_t height) {
  Release();
  if (width <= 0 || height <= 0) return false;
  if (static_cast<std::int64_t>(width) * height * 4 > kMaxBytes) return false;
  try {
    pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), kBlack);
    columns_.assign(static_cast<std::size_t>(width), 0);
  } catch (const std::bad_alloc&) {
    Release();
    return false;
  }
  width_ = width;
  height_ = height;
  return true;
}

bool MovieFrame::Lend(const Frame& frame) {
  lent_ = nullptr;
  if (!Exists() || frame.Empty() || frame.Width != width_ || frame.Height != height_ ||
      frame.BitsPerPixel != 32 || !StandardMasks(frame) ||
      frame.BytesPerLine != std::int64_t{width_} * 4 ||
      reinterpret_cast<std::uintptr_t>(frame.Pixels) % alignof(std::uint32_t) != 0) {
    return false;
  }
  lent_ = reinterpret_cast<const std::uint32_t*>(frame.Pixels);
  return true;
}

void MovieFrame::Release() {
  lent_ = nullptr;
  std::vector<std::uint32_t>().swap(pixels_);
  std::vector<std::int32_t>().swap(columns_);
  width_ = 0;
  height_ = 0;
}

namespace {

template <typename Read>
void Stretch(const Read& read, const Frame& f, std::int32_t width, std::int32_t height,
             std::int32_t* columns, std::uint32_t* pixels) {
  for (std::int32_t x = 0; x < width; ++x) {
    columns[x] = static_cast<std::int32_t>(static_cast<std::int64_t>(x) * f.Width / width);
  }
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* src =
        f.Row(static_cast<std::int32_t>(static_cast<std::int64_t>(y) * f.Height / height));
    std::uint32_t* dst = pixels + static_cast<std::size_t>(y) * width;
    for (std::int32_t x = 0; x < width; ++x) dst[x] = read(src, columns[x]);
  }
}

// Copies the frame unscaled to (left, top) and paints everything around it
// black, row by row, so each buffer pixel is written once.
template <typename Read>
void Centre(const Read& read, const Frame& f, std::int32_t width, std::int32_t height,
            std::uint32_t* pixels) {
  const std::int32_t left = (width - f.Width) / 2;
  const std::int32_t top = (height - f.Height) / 2;
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint32_t* dst = pixels + static_cast<std::size_t>(y) * width;
    if (y < top || y >= top + f.Height) {
      std::fill(dst, dst + width, kBlack);
      continue;
    }
    const std::uint8_t* src = f.Row(y - top);
    std::fill(dst, dst + left, kBlack);
    for (std::int32_t x = 0; x < f.Width; ++x) dst[left + x] = read(src, x);
    std::fill(dst + left + f.Width, dst + width, kBlack);
  }
}

template <typename Read>
void Place(const Read& read, const Frame& f, std::int32_t width, std::int32_t height,
           std::int32_t* columns, std::uint32_t* pixels) {
  if (f.Height > height || f.Width > width) {
    Stretch(read, f, width, height, columns, pixels);
  } else {
    Centre(read, f, width, height, pixels);
  }
}

// 32- and 24-bit frames with the usual masks are read as they are; any
// other masks go through the channel tables, which are built only then.
template <typename Plain, typename Masked>
void PlaceRgb(const Frame& f, std::int32_t width, std::int32_t height, std::int32_t* columns,
              std::uint32_t* pixels) {
  if (StandardMasks(f)) {
    Place(Plain{}, f, width, height, columns, pixels);
  } else {
    const Masks masks(f);
    Place(Masked{masks}, f, width, height, columns, pixels);
  }
}

}  // namespace

bool MovieFrame::Compose(const Frame& frame) {
  lent_ = nullptr;
  if (!Exists()) return false;
  std::uint32_t* pixels = pixels_.data();
  std::int32_t* columns = columns_.data();
  const std::int32_t bytesPerPixel = frame.BitsPerPixel / 8;
  const bool readable =
      !frame.Empty() && frame.BitsPerPixel % 8 == 0 && bytesPerPixel >= 1 && bytesPerPixel <= 4 &&
      frame.BytesPerLine >= static_cast<std::int64_t>(frame.Width) * bytesPerPixel;
  if (!readable) {
    std::fill(pixels_.begin(), pixels_.end(), kBlack);
    return false;
  }
  switch (frame.BitsPerPixel) {
    case 32:
      PlaceRgb<Plain32, Masked32>(frame, width_, height_, columns, pixels);
      return true;
    case 24:
      PlaceRgb<Plain24, Masked24>(frame, width_, height_, columns, pixels);
      return true;
    case 16: {
      const Masks masks(frame);
      Place(Masked16{masks}, frame, width_, height_, columns, pixels);
      return true;
    }
    case 8: {
      std::array<std::uint32_t, 256> colors;
      for (std::uint32_t i = 0; i < 256; ++i) {
        if (frame.Colors != nullptr) {
          const PaletteEntry& e = frame.Colors->Entries[i];
          colors[i] = (std::uint32_t{e.Red} << 16) | (std::uint32_t{e.Green} << 8) | e.Blue;
        } else {
          colors[i] = (i << 16) | (i << 8) | i;
        }
      }
      Place(Indexed8{colors}, frame, width_, height_, columns, pixels);
      return true;
    }
    default:
      std::fill(pixels_.begin(), pixels_.end(), kBlack);
      return false;
  }
}

}  // namespace framory
