// Makes this encoder's objects for the encoder session: the encoder, its
// profile and the stream editor.
#pragma once

#include "writers/MediaEncoderApi.h"

namespace framory {

class WmEncoderLibrary : public MediaEncoderLibrary {
 public:
  HResult CreateEncoder(std::unique_ptr<MediaEncoder>* encoder) override;
  HResult CreateProfile(std::unique_ptr<EncoderProfile>* profile) override;
  HResult CreateStreamEditor(std::unique_ptr<EncoderStreamEditor>* editor) override;
};

}  // namespace framory
