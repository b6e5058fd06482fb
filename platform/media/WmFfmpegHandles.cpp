#include "platform/media/WmFfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace framory {

void WmCodecContextFree::operator()(AVCodecContext* context) const {
  avcodec_free_context(&context);
}
void WmFrameFree::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void WmPacketFree::operator()(AVPacket* packet) const { av_packet_free(&packet); }
void WmScalerFree::operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
void WmOutputFree::operator()(AVFormatContext* context) const {
  if (context->pb != nullptr) avio_closep(&context->pb);
  avformat_free_context(context);
}

}  // namespace framory
