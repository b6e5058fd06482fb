// PNG encoder over libpng: 24-bit images as RGB with 8 bits a channel,
// palette images as palette PNGs of their own depth. Every file carries a
// white background (bKGD; palette index 0 in palette images) and the image's
// resolution (pHYs, pixels per metre). Small palette images (fewer than 65,536
// pixels) store only the palette entries up to the highest index in use.
#pragma once

#include "imaging/CxImage.h"

namespace framory {

class CxImagePNG : public CxImage {
 public:
  CxImagePNG() : CxImage(CxImageFormats::Png) {}
  using CxImage::Encode;
  bool Encode(CxFile* file);

 private:
  // The number of palette entries written for a palette image.
  std::uint32_t PaletteEntriesToWrite() const;
};

}  // namespace framory
