// Opens libavcodec's Windows Media Video 8 encoder (wmv2) the one way both
// of its users need it: the WMV writer's files (rate control at a profile's
// bit rate) and the screen encoder's recordings and broadcasts (a fixed
// quantiser). Each user works out its own numbers; the set-up that follows
// from them (4:2:0 pictures, no B-frames, one thread, the input picture and
// the output packet) is made here alone.
#pragma once

#include <cstdint>

#include "platform/media/FfmpegHandles.h"

extern "C" {
#include <libavutil/rational.h>
}

namespace framory {

struct Wmv2Settings {
  // Even sizes: 4:2:0 pictures have whole chroma samples.
  int Width = 0;
  int Height = 0;
  // The encoder's time base: one frame period (its rate control shares the
  // bit rate out by it). The frame rate is its inverse.
  AVRational FramePeriod{0, 1};
  int KeyFrameInterval = 1;  // frames
  // Rate control at BitRate bits per second when it is above zero, with a
  // buffer of BufferBits, a tolerance and a peak rate; otherwise every
  // picture at the fixed Quantiser.
  std::int64_t BitRate = 0;
  int BufferBits = 0;
  int Tolerance = 0;
  std::int64_t MaxRate = 0;
  int Quantiser = 0;
  // The stream headers go into the container's header (ASF wants them).
  bool GlobalHeader = false;
};

struct Wmv2Encoder {
  enum class Opened { Ok, NoEncoder, NoMemory, Refused };

  // Whether this FFmpeg build has the encoder at all.
  static bool Available();
  // Opens the encoder with `settings`, and the picture it takes and the
  // packet it gives. Refused when it does not take these settings.
  Opened Open(const Wmv2Settings& settings);

  CodecContextHandle Codec;
  FrameHandle Picture;  // 4:2:0, the encoder's size, buffers allocated
  PacketHandle Packet;
};

}  // namespace framory
