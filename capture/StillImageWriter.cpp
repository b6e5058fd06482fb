#include "capture/StillImageWriter.h"

#include "base/LastError.h"
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
  if (image.SaveFile(name.Path.c_str(), name.ImageFormat)) return;
  // The image layer has already removed what it wrote; the user is told
  // and the recorder stops taking pictures that cannot be kept.
  if (host_ == nullptr) return;
  SetLastError(static_cast<std::uint32_t>(image.SaveErrorNumber()));
  host_->ReportApiFailure("Unable to save picture " + name.Path);
}

}  // namespace framory
