#include "capture/StillImageWriter.h"

#include "imaging/CxImage.h"

namespace framory {

static_assert(ImageFormats::Bmp == CxImageFormats::Bmp &&
                  ImageFormats::Jpg == CxImageFormats::Jpg &&
                  ImageFormats::Png == CxImageFormats::Png &&
                  ImageFormats::Pcx == CxImageFormats::Pcx,
              "naming and the image layer must agree on format codes");

void StillImageWriter::SaveStill(const Frame& frame, const Palette* palette) {
  const PictureName name = naming_.PictureFileName();
  // No number left below the limit: there is no name, so nothing is written.
  if (name.Path.empty()) return;
  CxImage image(CxImageFormats::Unknown);
  image.CreateFromBitmap(&frame, palette);
  // The result is not looked at: a failed save shows nothing to the user.
  image.SaveFile(name.Path.c_str(), name.ImageFormat);
}

}  // namespace framory
