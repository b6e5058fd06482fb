// Owning handles for the FFmpeg objects of the Windows-Media-Format-like
// library: each frees its object with the matching FFmpeg call.
#pragma once

#include <memory>

extern "C" {
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVFormatContext;
struct SwsContext;
}

namespace framory {

struct WmCodecContextFree {
  void operator()(AVCodecContext* context) const;
};
struct WmFrameFree {
  void operator()(AVFrame* frame) const;
};
struct WmPacketFree {
  void operator()(AVPacket* packet) const;
};
struct WmScalerFree {
  void operator()(SwsContext* scaler) const;
};
// Closes the output file (if open) and frees the context; no trailer.
struct WmOutputFree {
  void operator()(AVFormatContext* context) const;
};

using WmCodecContextPtr = std::unique_ptr<AVCodecContext, WmCodecContextFree>;
using WmFramePtr = std::unique_ptr<AVFrame, WmFrameFree>;
using WmPacketPtr = std::unique_ptr<AVPacket, WmPacketFree>;
using WmScalerPtr = std::unique_ptr<SwsContext, WmScalerFree>;
using WmOutputPtr = std::unique_ptr<AVFormatContext, WmOutputFree>;

}  // namespace framory
