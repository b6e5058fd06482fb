#include "platform/media/AviCodecTable.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "writers/AviFileApi.h"

namespace framory {

namespace {

// "MPG4": FFmpeg has no encoder for Microsoft MPEG-4 version 1, so version 3
// stands in, stored under its own tag so that decoders pick the right one.
// "DIVX": MPEG-4 part 2. "XVID": libxvidcore, or FFmpeg's own MPEG-4 part 2
// encoder where libavcodec was built without it; the stream says XVID either
// way, which any MPEG-4 part 2 decoder reads.
constexpr AviCodec kCodecs[] = {
    {FourCC::Mpg4, "msmpeg4", nullptr, MakeFourCC('M', 'P', '4', '3')},
    {FourCC::Divx, "mpeg4", nullptr, FourCC::Divx},
    {FourCC::Xvid, "libxvid", "mpeg4", FourCC::Xvid},
};

}  // namespace

const AviCodec* FindAviCodec(std::uint32_t handler) {
  for (const AviCodec& codec : kCodecs) {
    if (codec.handler == handler) return &codec;
  }
  return nullptr;
}

const AVCodec* FindAviEncoder(const AviCodec& codec) {
  const AVCodec* encoder = avcodec_find_encoder_by_name(codec.encoder);
  if (encoder == nullptr && codec.fallbackEncoder != nullptr) {
    encoder = avcodec_find_encoder_by_name(codec.fallbackEncoder);
  }
  return encoder;
}

}  // namespace framory
