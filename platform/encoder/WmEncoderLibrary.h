// Makes this encoder's objects for the encoder session: the encoder, its
// profile and the stream editor.
#pragma once

#include "writers/MediaEncoderApi.h"

namespace framory {

class StreamScreen;

class WmEncoderLibrary : public MediaEncoderLibrary {
 public:
  HResult CreateEncoder(std::unique_ptr<MediaEncoder>* encoder) override;
  HResult CreateProfile(std::unique_ptr<EncoderProfile>* profile) override;
  HResult CreateStreamEditor(std::unique_ptr<EncoderStreamEditor>* editor) override;

  // The encoders made from now on take their pictures from `stream` (the
  // Wayland screen source's) instead of X11; null: X11.
  void SetScreenStream(const StreamScreen* stream) { stream_ = stream; }

 private:
  const StreamScreen* stream_ = nullptr;
};

}  // namespace framory
