// BMP encoder: a 14-byte file header followed by the image's block (bitmap
// information header, palette, bottom-up rows) exactly as held in memory.
#pragma once

#include "imaging/CxImage.h"

namespace framory {

class CxImageBMP : public CxImage {
 public:
  CxImageBMP() : CxImage(CxImageFormats::Bmp) {}
  using CxImage::Encode;
  bool Encode(CxFile* file);
};

}  // namespace framory
