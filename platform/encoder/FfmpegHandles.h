// Owning handles for the FFmpeg objects the encoder uses: each frees its
// object with the matching FFmpeg call, so no error path repeats a clean-up.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace framory {

struct CodecContextFree {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleFree {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
// An input opened with avformat_open_input.
struct InputClose {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

using CodecContextHandle = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FrameHandle = std::unique_ptr<AVFrame, FrameFree>;
using PacketHandle = std::unique_ptr<AVPacket, PacketFree>;
using ScaleHandle = std::unique_ptr<SwsContext, ScaleFree>;
using InputHandle = std::unique_ptr<AVFormatContext, InputClose>;

}  // namespace framory
