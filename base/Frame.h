// The grabbed frame as the capture engine hands it on: pixels in the display's
// own format, top-down rows, lent to the receiver for the length of one call.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace framory {

// One entry of a captured 256-colour palette (the logical palette of an 8-bit
// PseudoColor display).
struct PaletteEntry {
  std::uint8_t Red = 0;
  std::uint8_t Green = 0;
  std::uint8_t Blue = 0;
  std::uint8_t Flags = 0;
  friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

// The palette captured with a frame on palette displays: always 256 entries
// (version 0x300 in the original logical-palette terms).
struct Palette {
  static constexpr std::uint16_t kVersion = 0x300;
  std::array<PaletteEntry, 256> Entries{};
};

// A view of pixels in the display's format. `Pixels` is not owned: whoever
// grabbed the frame keeps the memory alive for the length of the call it lends
// the frame to.
//
//  - BitsPerPixel 32: each pixel a little-endian 32-bit value; the channel
//    masks say where red, green and blue are (0xFF0000, 0xFF00, 0xFF on every
//    common TrueColor display). The top byte is padding.
//  - BitsPerPixel 16: each pixel a little-endian 16-bit value with the masks
//    (565 or 555 displays).
//  - BitsPerPixel 24: three bytes a pixel in the order of the masks' bytes.
//  - BitsPerPixel 8: palette indices; the palette travels beside the frame.
struct Frame {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t BitsPerPixel = 32;
  std::int32_t BytesPerLine = 0;
  std::uint32_t RedMask = 0xFF0000;
  std::uint32_t GreenMask = 0x00FF00;
  std::uint32_t BlueMask = 0x0000FF;
  std::uint8_t* Pixels = nullptr;
  // The colours of an 8-bit frame's indices (the palette captured with it);
  // null for the other depths. Not owned, lent like Pixels.
  const Palette* Colors = nullptr;

  bool Empty() const { return Pixels == nullptr || Width <= 0 || Height <= 0; }
  std::uint8_t* Row(std::int32_t y) const {
    return Pixels + static_cast<std::ptrdiff_t>(y) * BytesPerLine;
  }
};

// The pointer's image as the user sees it: premultiplied ARGB pixels (alpha in
// the top byte), row by row, and the hot spot within the image.
struct CursorImage {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t XHot = 0;
  std::int32_t YHot = 0;
  std::vector<std::uint32_t> Argb;
};

}  // namespace framory
