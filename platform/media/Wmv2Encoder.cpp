#include "platform/media/Wmv2Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

namespace framory {

bool Wmv2Encoder::Available() { return avcodec_find_encoder(AV_CODEC_ID_WMV2) != nullptr; }

Wmv2Encoder::Opened Wmv2Encoder::Open(const Wmv2Settings& settings) {
  const AVCodec* wmv2 = avcodec_find_encoder(AV_CODEC_ID_WMV2);
  if (wmv2 == nullptr) return Opened::NoEncoder;
  Codec.reset(avcodec_alloc_context3(wmv2));
  Picture.reset(av_frame_alloc());
  Packet.reset(av_packet_alloc());
  if (!Codec || !Picture || !Packet) return Opened::NoMemory;
  AVCodecContext& c = *Codec;
  c.width = settings.Width;
  c.height = settings.Height;
  c.pix_fmt = AV_PIX_FMT_YUV420P;
  c.time_base = settings.FramePeriod;
  c.framerate = av_inv_q(settings.FramePeriod);
  c.gop_size = settings.KeyFrameInterval;
  c.max_b_frames = 0;
  c.thread_count = 1;
  if (settings.GlobalHeader) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (settings.BitRate > 0) {
    c.bit_rate = settings.BitRate;
    c.rc_buffer_size = settings.BufferBits;
    c.bit_rate_tolerance = settings.Tolerance;
    c.rc_max_rate = settings.MaxRate;
    // The rate control says so on stderr whenever a busy screen needs more
    // bits than the rate has ("rc buffer underflow"), which at low rates is
    // most of the time. Its messages go to the verbose level; failures
    // reach the caller as results.
    c.log_level_offset = AV_LOG_VERBOSE - AV_LOG_WARNING;
  } else {
    c.flags |= AV_CODEC_FLAG_QSCALE;
    c.global_quality = FF_QP2LAMBDA * settings.Quantiser;
  }
  if (avcodec_open2(&c, wmv2, nullptr) < 0) return Opened::Refused;

  Picture->format = c.pix_fmt;
  Picture->width = c.width;
  Picture->height = c.height;
  if (av_frame_get_buffer(Picture.get(), 0) < 0) return Opened::NoMemory;
  return Opened::Ok;
}

}  // namespace framory
