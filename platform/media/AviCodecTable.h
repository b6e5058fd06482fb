// The video codecs the AVI file library offers, by four-character code, over
// libavcodec's encoders. "WMV3" has no entry: no encoder for it exists, so a
// stream asking for it gets "no compressor".
#pragma once

#include <cstdint>

extern "C" {
struct AVCodec;
}

namespace framory {

struct AviCodec {
  std::uint32_t handler;        // the code the caller asks for
  const char* encoder;          // libavcodec encoder name
  const char* fallbackEncoder;  // used when `encoder` is not built in; may be null
  std::uint32_t tag;            // codec tag stored in the stream format (biCompression)
};

// The table entry for `handler`, null when no codec of that code exists.
const AviCodec* FindAviCodec(std::uint32_t handler);
// The encoder of `codec` present in this libavcodec, null when none is.
const AVCodec* FindAviEncoder(const AviCodec& codec);

}  // namespace framory
