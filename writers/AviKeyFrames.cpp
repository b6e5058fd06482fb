#include "writers/AviKeyFrames.h"

#include <cctype>
#include <initializer_list>

namespace framory {

namespace {

enum class CodecKind { Uncompressed, MsMpeg4, Mpeg4Part2, Other };

constexpr std::uint32_t Code(const char (&text)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24);
}

std::uint32_t Upper(std::uint32_t code) {
  std::uint32_t out = 0;
  for (int b = 0; b < 4; ++b) {
    const auto c = static_cast<unsigned char>(code >> (8 * b));
    out |= static_cast<std::uint32_t>(std::toupper(c)) << (8 * b);
  }
  return out;
}

CodecKind KindOf(std::uint32_t compression) {
  const std::uint32_t c = Upper(compression);
  if (c == 0 || c == Code("RGB ") || c == Code("DIB ") || c == Code("RAW ")) {
    return CodecKind::Uncompressed;
  }
  for (const std::uint32_t t : {Code("MP43"), Code("DIV3"), Code("MPG3")}) {
    if (c == t) return CodecKind::MsMpeg4;
  }
  for (const std::uint32_t t :
       {Code("DIVX"), Code("XVID"), Code("FMP4"), Code("DX50"), Code("MP4V"), Code("M4S2")}) {
    if (c == t) return CodecKind::Mpeg4Part2;
  }
  return CodecKind::Other;
}

}  // namespace

bool AviFrameIsKey(std::uint32_t compression, const unsigned char* data, std::size_t size,
                   std::size_t index) {
  if (size == 0) return false;
  switch (KindOf(compression)) {
    case CodecKind::Uncompressed:
      return true;
    case CodecKind::MsMpeg4:
      // The picture header opens with the picture type less one: 0 is intra.
      return (data[0] >> 6) == 0;
    case CodecKind::Mpeg4Part2:
      // The picture type is in the first two bits after the VOP start code.
      for (std::size_t i = 0; i + 4 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6) {
          return (data[i + 4] >> 6) == 0;
        }
      }
      return false;
    case CodecKind::Other:
      break;
  }
  return index == 0;
}

}  // namespace framory
