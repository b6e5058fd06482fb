// The Windows-Media-Format-like library over FFmpeg: a profile manager over
// the system profile table and writers over the ASF muxer and the Windows
// Media Video 8 encoder. Neither can be made when this FFmpeg build lacks
// the muxer or the encoder (ClassNotRegistered, as for a component that is
// not installed).
#pragma once

#include "writers/WmFormatApi.h"

namespace framory {

class WmFfmpegLibrary : public WmFormatLibrary {
 public:
  std::int32_t CreateProfileManager(std::unique_ptr<WmProfileManager>* manager) override;
  std::int32_t CreateWriter(void* certificate, std::unique_ptr<WmWriter>* writer) override;
};

}  // namespace framory
