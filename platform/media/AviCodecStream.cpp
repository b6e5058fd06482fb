#include "platform/media/AviCodecStream.h"

#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace framory {

namespace {

// Fixed quantiser for every codec: screen content (text, thin lines) stays
// legible, which a default bit rate of a few hundred kbit/s does not give at
// screen sizes. The caller's options ask for "the codec's default" quality.
constexpr int kQuantiser = 3;
constexpr int kDefaultKeyFrameEvery = 15;

}  // namespace

std::int32_t AviCodecStream::Create(std::shared_ptr<AviMuxer> muxer,
                                    const AviCompressOptions& options,
                                    std::unique_ptr<AviStream>* stream) {
  if (muxer == nullptr || !muxer->HasStream() || muxer->Begun()) return AviResult::Unsupported;
  const AviCodec* codec = FindAviCodec(options.Handler);
  if (codec == nullptr) return AviResult::NoCompressor;
  const AVCodec* encoder = FindAviEncoder(*codec);
  if (encoder == nullptr) return AviResult::NoCompressor;
  std::unique_ptr<AviCodecStream> made(
      new AviCodecStream(std::move(muxer), *codec, *encoder, options));
  if (made->packet_ == nullptr || made->picture_ == nullptr) return AviResult::Memory;
  *stream = std::move(made);
  return AviResult::Ok;
}

AviCodecStream::AviCodecStream(std::shared_ptr<AviMuxer> muxer, const AviCodec& codec,
                               const AVCodec& encoder, const AviCompressOptions& options)
    : muxer_(std::move(muxer)),
      codec_(codec),
      encoder_(encoder),
      options_(options),
      picture_(av_frame_alloc()),
      packet_(av_packet_alloc()) {}

AviCodecStream::~AviCodecStream() {
  if (context_ != nullptr && muxer_->Begun()) {
    // Whatever the encoder still holds goes into the file before it closes.
    if (avcodec_send_frame(context_, nullptr) >= 0) WritePackets();
  }
  sws_freeContext(scaler_);
  avcodec_free_context(&context_);
  av_frame_free(&picture_);
  av_packet_free(&packet_);
}

std::int32_t AviCodecStream::SetFormat(std::int32_t position, const AviBitmapHeader& format) {
  if (position != 0 || context_ != nullptr || muxer_->Begun()) return AviResult::Unsupported;
  const std::int32_t width = format.Width;
  const std::int32_t height = std::abs(format.Height);
  // 4:2:0 pictures need even sizes.
  if (format.BitCount != 32 || format.Compression != kBiRgb || width <= 0 || height <= 0 ||
      width % 2 != 0 || height % 2 != 0) {
    return AviResult::BadFormat;
  }
  width_ = width;
  height_ = height;
  bottomUp_ = format.Height > 0;

  context_ = avcodec_alloc_context3(&encoder_);
  if (context_ == nullptr) return AviResult::Memory;
  context_->width = width;
  context_->height = height;
  context_->pix_fmt = AV_PIX_FMT_YUV420P;
  context_->time_base = muxer_->SampleTimeBase();
  context_->framerate = av_inv_q(context_->time_base);
  context_->gop_size =
      options_.KeyFrameEvery > 0 ? static_cast<int>(options_.KeyFrameEvery) : kDefaultKeyFrameEvery;
  context_->max_b_frames = 0;
  context_->flags |= AV_CODEC_FLAG_QSCALE;
  context_->global_quality = kQuantiser * FF_QP2LAMBDA;
  context_->codec_tag = codec_.tag;
  if (avcodec_open2(context_, &encoder_, nullptr) < 0) {
    avcodec_free_context(&context_);
    return AviResult::NoCompressor;
  }

  picture_->format = AV_PIX_FMT_YUV420P;
  picture_->width = width;
  picture_->height = height;
  if (av_frame_get_buffer(picture_, 0) < 0) return AviResult::Memory;
  scaler_ = sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, AV_PIX_FMT_YUV420P,
                           SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  if (scaler_ == nullptr) return AviResult::Memory;

  AVCodecParameters* parameters = avcodec_parameters_alloc();
  if (parameters == nullptr) return AviResult::Memory;
  std::int32_t result = AviResult::Memory;
  if (avcodec_parameters_from_context(parameters, context_) >= 0) {
    parameters->codec_tag = codec_.tag;
    result = muxer_->Begin(*parameters, false);
  }
  avcodec_parameters_free(&parameters);
  return result;
}

std::int32_t AviCodecStream::Write(std::int32_t start, std::int32_t samples, const void* data,
                                   std::int32_t bytes, std::uint32_t flags) {
  if (context_ == nullptr || !muxer_->Begun()) return AviResult::Unsupported;
  if (samples != 1 || start < 0 || data == nullptr || bytes < std::int64_t{width_} * height_ * 4) {
    return AviResult::BadParam;
  }
  if (av_frame_make_writable(picture_) < 0) return AviResult::Memory;
  const int stride = width_ * 4;
  const std::uint8_t* first = static_cast<const std::uint8_t*>(data);
  // Bottom-up rows are read from the last one upward with a negative stride.
  const std::uint8_t* source[1] = {
      bottomUp_ ? first + static_cast<std::ptrdiff_t>(height_ - 1) * stride : first};
  const int sourceStride[1] = {bottomUp_ ? -stride : stride};
  sws_scale(scaler_, source, sourceStride, 0, height_, picture_->data, picture_->linesize);
  picture_->pts = start;
  picture_->quality = context_->global_quality;
  picture_->pict_type = (flags & kAviKeyFrame) != 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (avcodec_send_frame(context_, picture_) < 0) return AviResult::Internal;
  return WritePackets();
}

std::int32_t AviCodecStream::WritePackets() {
  for (;;) {
    const int received = avcodec_receive_packet(context_, packet_);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return AviResult::Ok;
    if (received < 0) return AviResult::Internal;
    if (packet_->duration == 0) packet_->duration = 1;
    const std::int32_t result = muxer_->Write(packet_);
    av_packet_unref(packet_);
    if (result != AviResult::Ok) return result;
  }
}

}  // namespace framory
