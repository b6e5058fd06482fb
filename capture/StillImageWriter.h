// The still-image writer: every frame grabbed for a picture output type
// becomes the next "pic" file of the project folder, encoded as BMP, JPEG,
// PNG or PCX.
//
// A save that fails (a full disk, a file-size limit, the project folder
// gone, a name the file system refuses, a short write) leaves no file: the
// partial picture is removed and the recorder pauses with the error box
// "Unable to save picture <path> failed: GetLastError returned <errno>".
// Earlier pictures are never touched.
#pragma once

#include "capture/CaptureLinks.h"
#include "capture/ClipHost.h"
#include "capture/OutputNaming.h"

namespace framory {

class StillImageWriter : public StillImageSink {
 public:
  // `host` receives the failure reports; without one a failed save is only
  // cleaned up.
  explicit StillImageWriter(OutputNaming& naming, ClipHost* host = nullptr)
      : naming_(naming), host_(host) {}

  void SetHost(ClipHost* host) { host_ = host; }
  void SaveStill(const Frame& frame, const Palette* palette) override;
  bool HasLastResult() const override { return !naming_.LastResult().empty(); }

 private:
  OutputNaming& naming_;
  ClipHost* host_;
};

}  // namespace framory
