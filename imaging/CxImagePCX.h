// PCX encoder (version 5, run-length encoded). 24-bit images become three
// 8-bit planes (red, green, blue) per line, 8-bit images one plane with a
// 256-colour trailer, 1- and 4-bit images one or four bit planes with their
// colours in the header. The compressed body is collected in memory and
// written at once, so the file sees at most three writes.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/CxImage.h"

namespace framory {

class CxImagePCX : public CxImage {
 public:
  CxImagePCX() : CxImage(CxImageFormats::Pcx) {}
  using CxImage::Encode;
  bool Encode(CxFile* file);

  // The packers, open for tests. Each writes to `out`, which must have room
  // for 2 × count + 1 bytes, and returns the number of bytes written.
  //
  // Byte-run packer for 8-bit plane lines: `count` bytes `stride` apart, then
  // a 0x00 padding byte when `padToEven` (odd widths). Runs are at most 63
  // long; a single byte below 0xC0 is written as itself.
  static std::size_t PackByteRuns(const std::uint8_t* line, std::size_t count, std::size_t stride,
                                  bool padToEven, std::uint8_t* out);
  // Plane packer for bit-plane lines of 1- and 4-bit images.
  static std::size_t PackPlane(const std::uint8_t* line, std::size_t count, std::uint8_t* out);

 private:
  void BuildHeader(std::uint8_t header[128]) const;
  void EncodeBody(CxFile* body) const;
};

}  // namespace framory
