#include "platform/media/AviRawStream.h"

#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
}

namespace framory {

AviRawStream::AviRawStream(std::shared_ptr<AviMuxer> muxer)
    : muxer_(std::move(muxer)), packet_(av_packet_alloc()) {}

namespace {

// Uncompressed frames waiting for the worker.
constexpr std::size_t kQueueDepth = 3;

}  // namespace

AviRawStream::~AviRawStream() { Finish(); }

std::int32_t AviRawStream::Finish() {
  if (finished_ || !carrier_) return AviResult::Ok;
  finished_ = true;
  const std::int32_t result = queue_.Finish();
  const std::int32_t closed = muxer_->Finish();
  return result != AviResult::Ok ? result : closed;
}

std::int32_t AviRawStream::SetFormat(std::int32_t position, const AviBitmapHeader& format) {
  if (position != 0 || muxer_->Begun()) return AviResult::Unsupported;
  if (format.BitCount != 32 || format.Compression != kBiRgb || format.Width <= 0 ||
      format.Height == 0) {
    return AviResult::BadFormat;
  }
  CodecParametersHandle parameters(avcodec_parameters_alloc());
  if (parameters == nullptr) return AviResult::Memory;
  parameters->codec_type = AVMEDIA_TYPE_VIDEO;
  parameters->codec_id = AV_CODEC_ID_RAWVIDEO;
  parameters->codec_tag = 0;  // BI_RGB
  // The AVI muxer names 32-bit BI_RGB rows BGRA; the fourth byte is padding.
  parameters->format = AV_PIX_FMT_BGRA;
  parameters->width = format.Width;
  parameters->height = std::abs(format.Height);
  parameters->bits_per_coded_sample = 32;
  const std::int32_t result = muxer_->Begin(*parameters, format.Height > 0);
  if (result != AviResult::Ok) return result;
  carrier_ = true;
  frameBytes_ = std::int64_t{format.Width} * std::abs(format.Height) * 4;
  return queue_.Start(static_cast<std::size_t>(frameBytes_), kQueueDepth,
                      [this](const std::uint8_t* data, std::int32_t position, std::uint32_t) {
                        return WriteFrame(data, position);
                      });
}

std::int32_t AviRawStream::Write(std::int32_t start, std::int32_t samples, const void* data,
                                 std::int32_t bytes, std::uint32_t /*flags*/) {
  if (finished_ || !queue_.Started() || packet_ == nullptr) return AviResult::Unsupported;
  if (samples != 1 || start < nextStart_ || data == nullptr || bytes != frameBytes_) {
    return AviResult::BadParam;
  }
  if (muxer_->Deleted()) return AviResult::FileWrite;
  const std::int32_t result = queue_.Put(start, data, 0);
  if (result == AviResult::Ok) nextStart_ = std::int64_t{start} + 1;
  return result;
}

std::int32_t AviRawStream::WriteFrame(const std::uint8_t* data, std::int32_t position) {
  // The muxer only reads the bytes during the call; no copy is made.
  packet_->data = const_cast<std::uint8_t*>(data);
  packet_->size = static_cast<int>(frameBytes_);
  packet_->pts = position;
  packet_->dts = position;
  packet_->duration = 1;
  // An uncompressed frame stands on its own: each is a key frame in the
  // index, whatever the caller's flags say, so players can seek anywhere.
  packet_->flags = AV_PKT_FLAG_KEY;
  const std::int32_t result = muxer_->Write(packet_.get());
  packet_->data = nullptr;
  packet_->size = 0;
  return result;
}

}  // namespace framory
