// Owning handles for the FFmpeg objects of every media layer (the AVI and
// ASF writers, the screen encoder, the stream editor): each frees its object
// with the matching FFmpeg call, so no destructor or error path repeats a
// clean-up sequence and no FFmpeg object is freed anywhere else. Opening and
// closing an output's file also live here, because closing is the step that
// frees the file's I/O context and its result is the file's last write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" {
struct AVCodecContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwsContext;
}

namespace framory {

// Frees each of these objects with its own FFmpeg call; an I/O context
// made by the caller goes with its buffer.
struct FfmpegFree {
  void operator()(AVCodecContext* context) const;
  void operator()(AVCodecParameters* parameters) const;
  void operator()(AVFrame* frame) const;
  void operator()(AVPacket* packet) const;
  void operator()(SwsContext* context) const;
  void operator()(AVIOContext* io) const;
};
// A format context frees by its end: an input opened with
// avformat_open_input is closed...
struct InputClose {
  void operator()(AVFormatContext* context) const;
};
// ...an output closes its file (if open and not the caller's own I/O)
// without writing a trailer, then frees the context.
struct OutputFree {
  void operator()(AVFormatContext* context) const;
};

using CodecContextHandle = std::unique_ptr<AVCodecContext, FfmpegFree>;
using CodecParametersHandle = std::unique_ptr<AVCodecParameters, FfmpegFree>;
using FrameHandle = std::unique_ptr<AVFrame, FfmpegFree>;
using PacketHandle = std::unique_ptr<AVPacket, FfmpegFree>;
using ScaleHandle = std::unique_ptr<SwsContext, FfmpegFree>;
using IoHandle = std::unique_ptr<AVIOContext, FfmpegFree>;
using InputHandle = std::unique_ptr<AVFormatContext, InputClose>;
using OutputHandle = std::unique_ptr<AVFormatContext, OutputFree>;

// An output context for the muxer `format` writing to `url` (may be null);
// null when the muxer is missing or memory runs out.
OutputHandle NewOutput(const char* format, const char* url);
// Closes the file `context` writes to, when it has one that it opened
// itself; avio_closep's result (negative when the last bytes could not be
// written), 0 when there was nothing to close. The context stays usable for
// freeing.
int CloseOutputFile(AVFormatContext* context);
// A write-only, non-seekable I/O context with a buffer of `bufferSize`
// bytes that hands every write to `write(opaque, ...)`; null without memory.
IoHandle NewWriteIo(int bufferSize, void* opaque,
                    int (*write)(void* opaque, std::uint8_t* data, int size));

}  // namespace framory
