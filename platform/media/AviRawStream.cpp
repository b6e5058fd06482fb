#include "platform/media/AviRawStream.h"

#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
}

namespace framory {

AviRawStream::AviRawStream(std::shared_ptr<AviMuxer> muxer)
    : muxer_(std::move(muxer)), packet_(av_packet_alloc()) {}

AviRawStream::~AviRawStream() { av_packet_free(&packet_); }

std::int32_t AviRawStream::SetFormat(std::int32_t position, const AviBitmapHeader& format) {
  if (position != 0 || muxer_->Begun()) return AviResult::Unsupported;
  if (format.BitCount != 32 || format.Compression != kBiRgb || format.Width <= 0 ||
      format.Height == 0) {
    return AviResult::BadFormat;
  }
  AVCodecParameters* parameters = avcodec_parameters_alloc();
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
  avcodec_parameters_free(&parameters);
  if (result == AviResult::Ok)
    frameBytes_ = std::int64_t{format.Width} * std::abs(format.Height) * 4;
  return result;
}

std::int32_t AviRawStream::Write(std::int32_t start, std::int32_t samples, const void* data,
                                 std::int32_t bytes, std::uint32_t flags) {
  if (!muxer_->Begun() || packet_ == nullptr) return AviResult::Unsupported;
  if (samples != 1 || start < 0 || data == nullptr || bytes != frameBytes_) {
    return AviResult::BadParam;
  }
  // The muxer only reads the bytes during the call; no copy is made.
  packet_->data = static_cast<std::uint8_t*>(const_cast<void*>(data));
  packet_->size = bytes;
  packet_->pts = start;
  packet_->dts = start;
  packet_->duration = 1;
  // An uncompressed frame stands on its own: each is a key frame in the
  // index, whatever the caller's flags say, so players can seek anywhere.
  (void)flags;
  packet_->flags = AV_PKT_FLAG_KEY;
  const std::int32_t result = muxer_->Write(packet_);
  packet_->data = nullptr;
  packet_->size = 0;
  return result;
}

}  // namespace framory
