// The frame buffer of a movie clip: MovieWidth × MovieHeight pixels, 32 bits
// each (blue, green, red, zero byte in memory, i.e. 0x00RRGGBB read as a
// little-endian word), rows top-down. It is made once when a clip starts and
// every grabbed frame is composed into it before the clip's writer reads it.
#pragma once

#include <cstdint>
#include <vector>

#include "base/Frame.h"

namespace framory {

class MovieFrame {
 public:
  // Largest buffer made, in bytes: the size a 32-bit device-independent
  // bitmap can describe.
  static constexpr std::int64_t kMaxBytes = 0x7FFFFFFF;

  // Makes a black buffer of width × height pixels, replacing any earlier one.
  // False (and no buffer) when a size is not positive, the buffer would be
  // larger than kMaxBytes, or the memory cannot be had.
  bool Create(std::int32_t width, std::int32_t height);
  void Release();

  bool Exists() const { return !pixels_.empty(); }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::int32_t BytesPerLine() const { return width_ * 4; }
  // While a frame is lent (below), the const accessors read its pixels.
  const std::uint32_t* Row(std::int32_t y) const { return Pixels() + RowOffset(y); }
  std::uint32_t* Row(std::int32_t y) { return pixels_.data() + RowOffset(y); }
  std::uint32_t Pixel(std::int32_t x, std::int32_t y) const { return Row(y)[x]; }

  // Composes `frame` into the buffer in one pass over the pixels:
  //  - larger in either direction: stretched over the whole buffer, width and
  //    height scaled independently, nearest-neighbour sampling;
  //  - smaller in either direction (and larger in neither): copied unscaled,
  //    centred with the halves rounded down, on black;
  //  - the same size: copied as it is.
  // 32-, 24- and 16-bit frames are read through their channel masks, 8-bit
  // ones through frame.Colors (a grey ramp when the frame has none). False,
  // with the buffer left black, when the frame is empty or of another depth.
  bool Compose(const Frame& frame);

  // Saves the copy when a grabbed frame already is what Compose would make:
  // the buffer's size, 32 bits with the usual masks, rows packed. The buffer
  // then reads the frame's own pixels in place (the fourth byte as it is)
  // until EndLoan, which must come before the frame's lender takes the
  // pixels back; the buffer's own contents are left as they were. False, and
  // nothing lent, for any other frame.
  bool Lend(const Frame& frame);
  void EndLoan() { lent_ = nullptr; }

 private:
  const std::uint32_t* Pixels() const { return lent_ != nullptr ? lent_ : pixels_.data(); }
  std::size_t RowOffset(std::int32_t y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
  }

  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::vector<std::uint32_t> pixels_;
  // Source column of every buffer column while stretching; sized with the
  // buffer so that composing never allocates.
  std::vector<std::int32_t> columns_;
  const std::uint32_t* lent_ = nullptr;
};

}  // namespace framory
