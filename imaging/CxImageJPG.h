// JPEG encoder over libjpeg (the 6b interface of libjpeg-turbo): baseline
// JFIF at the image's JpegQuality (75) with its resolution as the density in
// dots per inch. Only 24-bit images and palette images whose palette is the
// grey ramp (entry i is i, i, i) can be saved. Compressed data leaves through
// a 4096-byte buffer into the image layer's CxFile.
#pragma once

#include "imaging/CxImage.h"

namespace framory {

class CxImageJPG : public CxImage {
 public:
  CxImageJPG() : CxImage(CxImageFormats::Jpg) {}
  using CxImage::Encode;
  bool Encode(CxFile* file);

  // libjpeg destination manager over a CxFile (defined with the encoder).
  class CxFileJpg;

 private:
  bool IsGreyRamp() const;
};

}  // namespace framory
