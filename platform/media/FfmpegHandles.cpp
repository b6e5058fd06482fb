#include "platform/media/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace framory {

void FfmpegFree::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
void FfmpegFree::operator()(AVCodecParameters* parameters) const {
  avcodec_parameters_free(&parameters);
}
void FfmpegFree::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void FfmpegFree::operator()(AVPacket* packet) const { av_packet_free(&packet); }
void FfmpegFree::operator()(SwsContext* context) const { sws_freeContext(context); }
void FfmpegFree::operator()(AVIOContext* io) const {
  av_freep(&io->buffer);
  avio_context_free(&io);
}

void InputClose::operator()(AVFormatContext* context) const { avformat_close_input(&context); }

void OutputFree::operator()(AVFormatContext* context) const {
  CloseOutputFile(context);
  avformat_free_context(context);
}

OutputHandle NewOutput(const char* format, const char* url) {
  AVFormatContext* context = nullptr;
  if (avformat_alloc_output_context2(&context, nullptr, format, url) < 0) return nullptr;
  return OutputHandle(context);
}

int CloseOutputFile(AVFormatContext* context) {
  // A caller's own I/O context belongs to its IoHandle.
  if (context->pb == nullptr || (context->flags & AVFMT_FLAG_CUSTOM_IO) != 0) return 0;
  return avio_closep(&context->pb);
}

IoHandle NewWriteIo(int bufferSize, void* opaque,
                    int (*write)(void* opaque, std::uint8_t* data, int size)) {
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(static_cast<std::size_t>(bufferSize)));
  if (buffer == nullptr) return nullptr;
  AVIOContext* io = avio_alloc_context(buffer, bufferSize, 1, opaque, nullptr, write, nullptr);
  if (io == nullptr) {
    av_free(buffer);
    return nullptr;
  }
  io->seekable = 0;
  return IoHandle(io);
}

}  // namespace framory
