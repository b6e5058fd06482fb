#include "platform/media/WmFfmpegLibrary.h"

#include "platform/media/WmAsfEncoder.h"
#include "platform/media/WmAsfWriter.h"
#include "platform/media/WmSystemProfileManager.h"

namespace framory {

std::int32_t WmFfmpegLibrary::CreateProfileManager(std::unique_ptr<WmProfileManager>* manager) {
  if (manager == nullptr) return WmResult::InvalidArg;
  if (!WmAsfEncoder::MuxerAvailable()) return WmResult::ClassNotRegistered;
  *manager = std::make_unique<WmSystemProfileManager>();
  return WmResult::Ok;
}

std::int32_t WmFfmpegLibrary::CreateWriter(void* /*certificate*/,
                                           std::unique_ptr<WmWriter>* writer) {
  if (writer == nullptr) return WmResult::InvalidArg;
  if (!WmAsfEncoder::MuxerAvailable() || !WmAsfEncoder::EncoderAvailable()) {
    return WmResult::ClassNotRegistered;
  }
  *writer = std::make_unique<WmAsfWriter>();
  return WmResult::Ok;
}

std::unique_ptr<WmFormatLibrary> CreateWmFormatLibrary() {
  return std::make_unique<WmFfmpegLibrary>();
}

}  // namespace framory
