// One colour channel of a packed pixel, given by its mask, read as 8 bits.
// Channels narrower than 8 bits (565, 555 displays) are widened by repeating
// their bits, so full intensity stays 255; wider ones keep their top 8 bits.
// The widening is a 256-entry table made once, so reading costs no division
// or loop per pixel. A zero mask reads as 0. Write goes the other way: an
// 8-bit value rounded to the channel's width and placed under its mask.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

namespace framory {

class PixelChannel {
 public:
  explicit PixelChannel(std::uint32_t mask) : mask_(mask) {
    if (mask == 0) return;
    const int low = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    low_ = low;
    max_ = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    const int keep = std::min(bits, 8);
    shift_ = low + (bits - keep);
    const int levels = 1 << keep;
    for (int v = 0; v < levels; ++v) {
      std::uint32_t x = static_cast<std::uint32_t>(v) << (8 - keep);
      for (int s = keep; s < 8; s *= 2) x |= x >> s;
      widen_[v] = static_cast<std::uint8_t>(x);
    }
  }

  std::uint8_t Read(std::uint32_t pixel) const {
    return widen_[((pixel & mask_) >> shift_) & 0xFF];
  }

  std::uint32_t Write(std::uint8_t value) const {
    if (mask_ == 0) return 0;
    const std::uint64_t scaled = (std::uint64_t{value} * max_ + 127) / 255;
    return static_cast<std::uint32_t>(scaled << low_) & mask_;
  }

 private:
  std::uint32_t mask_ = 0;
  int shift_ = 0;
  int low_ = 0;
  std::uint32_t max_ = 0;
  std::array<std::uint8_t, 256> widen_{};
};

}  // namespace framory
