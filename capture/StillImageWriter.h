// The still-image writer: every frame grabbed for a picture output type
// becomes the next "pic" file of the project folder, encoded as BMP, JPEG,
// PNG or PCX. Failures are silent by design; the recorder carries on.
#pragma once

#include "capture/CaptureLinks.h"
#include "capture/OutputNaming.h"

namespace framory {

class StillImageWriter : public StillImageSink {
 public:
  explicit StillImageWriter(OutputNaming& naming) : naming_(naming) {}

  void SaveStill(const Frame& frame, const Palette* palette) override;
  bool HasLastResult() const override { return !naming_.LastResult().empty(); }

 private:
  OutputNaming& naming_;
};

}  // namespace framory
