#include "platform/media/AviCodecStream.h"

#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "platform/media/BgraToYuv420.h"

namespace framory {

namespace {

// Fixed quantiser for every codec: screen content (text, thin lines) stays
// legible, which a default bit rate of a few hundred kbit/s does not give at
// screen sizes. The caller's options ask for "the codec's default" quality.
constexpr int kQuantiser = 3;
constexpr int kDefaultKeyFrameEvery = 15;
// Frames waiting for the worker: enough to ride out a slow frame or a disk
// stall, few enough that a 1920 × 1080 clip keeps about 25 MB queued at most.
constexpr std::size_t kQueueDepth = 3;

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

AviCodecStream::~AviCodecStream() { Finish(); }

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

  context_.reset(avcodec_alloc_context3(&encoder_));
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
  // Slices encode in parallel without delaying the packets; frame threads
  // would hold frames back, and no codec here needs them.
  if ((encoder_.capabilities & AV_CODEC_CAP_SLICE_THREADS) != 0) {
    context_->thread_type = FF_THREAD_SLICE;
    context_->thread_count = 0;  // one per core
  }
  if (avcodec_open2(context_.get(), &encoder_, nullptr) < 0) {
    context_.reset();
    return AviResult::NoCompressor;
  }

  picture_->format = AV_PIX_FMT_YUV420P;
  picture_->width = width;
  picture_->height = height;
  if (av_frame_get_buffer(picture_.get(), 0) < 0) return AviResult::Memory;

  CodecParametersHandle parameters(avcodec_parameters_alloc());
  if (parameters == nullptr) return AviResult::Memory;
  if (avcodec_parameters_from_context(parameters.get(), context_.get()) < 0) {
    return AviResult::Memory;
  }
  parameters->codec_tag = codec_.tag;
  const std::int32_t result = muxer_->Begin(*parameters, false);
  if (result != AviResult::Ok) return result;
  return queue_.Start(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4,
                      kQueueDepth,
                      [this](const std::uint8_t* data, std::int32_t position, std::uint32_t flags) {
                        return Encode(data, position, flags);
                      });
}

std::int32_t AviCodecStream::Write(std::int32_t start, std::int32_t samples, const void* data,
                                   std::int32_t bytes, std::uint32_t flags) {
  if (finished_ || context_ == nullptr || !queue_.Started()) return AviResult::Unsupported;
  // No data: the last picture again (it stays converted in the encoder's
  // input frame), which needs a picture before it.
  const bool again = data == nullptr && bytes == 0 && nextStart_ > 0;
  if (samples != 1 || start < nextStart_ ||
      (!again && (data == nullptr || bytes < std::int64_t{width_} * height_ * 4))) {
    return AviResult::BadParam;
  }
  if (muxer_->Deleted()) return AviResult::FileWrite;
  const std::int32_t result = queue_.Put(start, data, flags);
  if (result == AviResult::Ok) nextStart_ = std::int64_t{start} + 1;
  return result;
}

std::int32_t AviCodecStream::Encode(const std::uint8_t* data, std::int32_t position,
                                    std::uint32_t flags) {
  // Without data the previous picture is encoded again. Making the frame
  // writable keeps its contents (copied if the encoder still holds them).
  if (av_frame_make_writable(picture_.get()) < 0) return AviResult::Memory;
  if (data != nullptr) {
    const std::ptrdiff_t stride = std::ptrdiff_t{width_} * 4;
    // Bottom-up rows are read from the last one upward.
    const std::uint8_t* top = bottomUp_ ? data + (height_ - 1) * stride : data;
    ConvertBgraToYuv420(
        top, bottomUp_ ? -stride : stride, width_, height_,
        Yuv420Planes{picture_->data[0], picture_->data[1], picture_->data[2], picture_->linesize[0],
                     picture_->linesize[1], picture_->linesize[2]});
  }
  picture_->pts = position;
  picture_->quality = context_->global_quality;
  picture_->pict_type = (flags & kAviKeyFrame) != 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (avcodec_send_frame(context_.get(), picture_.get()) < 0) return AviResult::Internal;
  return WritePackets();
}

std::int32_t AviCodecStream::Finish() {
  if (finished_) return AviResult::Ok;
  finished_ = true;
  // The worker is stopped first; from here on this thread alone uses the
  // encoder and the muxer.
  std::int32_t result = queue_.Finish();
  if (context_ != nullptr && muxer_->Begun()) {
    // Whatever the encoder still holds goes into the file before it closes.
    std::int32_t flushed = AviResult::Internal;
    if (avcodec_send_frame(context_.get(), nullptr) >= 0) flushed = WritePackets();
    if (result == AviResult::Ok) result = flushed;
    const std::int32_t closed = muxer_->Finish();
    if (result == AviResult::Ok) result = closed;
  }
  return result;
}

std::int32_t AviCodecStream::WritePackets() {
  for (;;) {
    const int received = avcodec_receive_packet(context_.get(), packet_.get());
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return AviResult::Ok;
    if (received < 0) return AviResult::Internal;
    if (packet_->duration == 0) packet_->duration = 1;
    const std::int32_t result = muxer_->Write(packet_.get());
    av_packet_unref(packet_.get());
    if (result != AviResult::Ok) return result;
  }
}

}  // namespace framory
