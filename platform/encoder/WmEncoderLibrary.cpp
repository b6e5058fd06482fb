#include "platform/encoder/WmEncoderLibrary.h"

#include "platform/encoder/WmEncoder.h"
#include "platform/encoder/WmEncoderProfile.h"
#include "platform/encoder/WmStreamEditor.h"

namespace framory {

HResult WmEncoderLibrary::CreateEncoder(std::unique_ptr<MediaEncoder>* encoder) {
  if (encoder == nullptr) return EncoderResult::InvalidArg;
  auto made = std::make_unique<WmEncoder>();
  made->SetScreenStream(stream_);
  *encoder = std::move(made);
  return EncoderResult::Ok;
}

HResult WmEncoderLibrary::CreateProfile(std::unique_ptr<EncoderProfile>* profile) {
  if (profile == nullptr) return EncoderResult::InvalidArg;
  *profile = std::make_unique<WmEncoderProfile>();
  return EncoderResult::Ok;
}

HResult WmEncoderLibrary::CreateStreamEditor(std::unique_ptr<EncoderStreamEditor>* editor) {
  if (editor == nullptr) return EncoderResult::InvalidArg;
  *editor = std::make_unique<WmStreamEditor>();
  return EncoderResult::Ok;
}

}  // namespace framory
