// Sharpness to quantiser: q = 2 + round((100 - sharpness) × 29 / 100), so
// 100 → 2, 95 → 3, 50 → 17, 0 → 31. The screen profile asks for 95: at 3 a
// frame of dark X core-font text on white decodes at about 45 dB PSNR
// against the screen (41.9 at 4, 38.4 at 6). Thin coloured strokes are
// limited by the 4:2:0 chroma, not by the quantiser (about 26 dB at any q).
// Unset sharpness means 95.
#include "platform/encoder/WmEncoderProfile.h"

#include <algorithm>
#include <cmath>

namespace framory {
namespace {

constexpr std::int32_t kDefaultSharpness = 95;
const char* const kVideoCodecs[WmEncoderProfile::kVideoCodecCount] = {"MSS2", "WMV2"};
const char* const kAudioCodecs[] = {"WMA2"};

bool ValidStream(std::int32_t stream) { return stream == 0; }

}  // namespace

int QuantiserForSharpness(std::int32_t sharpness) {
  if (sharpness < 0) sharpness = kDefaultSharpness;
  sharpness = std::clamp(sharpness, 0, 100);
  return 2 + static_cast<int>(std::lround((100 - sharpness) * 29 / 100.0));
}

HResult WmEncoderAudience::SetVideoCodec(std::int32_t stream, std::int32_t codecIndex) {
  if (!ValidStream(stream) || codecIndex < 0 || codecIndex >= WmEncoderProfile::kVideoCodecCount)
    return EncoderResult::InvalidArg;
  settings_.VideoCodec = codecIndex;
  return EncoderResult::Ok;
}

HResult WmEncoderAudience::SetVideoWidth(std::int32_t stream, std::int32_t width) {
  if (!ValidStream(stream) || width < 0) return EncoderResult::InvalidArg;
  settings_.Width = width;
  return EncoderResult::Ok;
}

HResult WmEncoderAudience::SetVideoHeight(std::int32_t stream, std::int32_t height) {
  if (!ValidStream(stream) || height < 0) return EncoderResult::InvalidArg;
  settings_.Height = height;
  return EncoderResult::Ok;
}

HResult WmEncoderAudience::SetVideoBufferWindow(std::int32_t stream, std::int32_t milliseconds) {
  if (!ValidStream(stream) || milliseconds < 0) return EncoderResult::InvalidArg;
  settings_.BufferMs = milliseconds;
  return EncoderResult::Ok;
}

HResult WmEncoderAudience::SetVideoFps(std::int32_t stream, std::int32_t fpsTimes1000) {
  if (!ValidStream(stream) || fpsTimes1000 <= 0) return EncoderResult::InvalidArg;
  settings_.FpsTimes1000 = fpsTimes1000;
  return EncoderResult::Ok;
}

HResult WmEncoderAudience::SetVideoImageSharpness(std::int32_t stream, std::int32_t quality) {
  if (!ValidStream(stream) || quality < 0 || quality > 100) return EncoderResult::InvalidArg;
  settings_.ImageSharpness = quality;
  return EncoderResult::Ok;
}

HResult WmEncoderProfile::SetValidateMode(bool on) {
  validateMode_ = on;
  return EncoderResult::Ok;
}

HResult WmEncoderProfile::SetName(const std::string& name) {
  name_ = name;
  return EncoderResult::Ok;
}

HResult WmEncoderProfile::SetDescription(const std::string& description) {
  description_ = description;
  return EncoderResult::Ok;
}

HResult WmEncoderProfile::SetContentType(std::int32_t contentType) {
  if (contentType != kContentAudio && contentType != kContentVideo &&
      contentType != kContentAudioVideo)
    return EncoderResult::InvalidArg;
  contentType_ = contentType;
  return EncoderResult::Ok;
}

HResult WmEncoderProfile::SetVideoBitrateMode(std::int32_t stream, std::int32_t mode) {
  if (!ValidStream(stream) || mode < 0) return EncoderResult::InvalidArg;
  videoBitrateMode_ = mode;
  return EncoderResult::Ok;
}

HResult WmEncoderProfile::FindCodecIndex(std::int32_t sourceType, const std::string& fourCC,
                                         std::int32_t* index) {
  if (index == nullptr) return EncoderResult::InvalidArg;
  if (sourceType == kEncoderVideo) {
    for (int i = 0; i < kVideoCodecCount; ++i) {
      if (fourCC == kVideoCodecs[i]) return *index = i, EncoderResult::Ok;
    }
  } else if (sourceType == kEncoderAudio) {
    if (fourCC == kAudioCodecs[0]) return *index = 0, EncoderResult::Ok;
  }
  *index = -1;
  return EncoderResult::Fail;
}

HResult WmEncoderProfile::AddAudience(std::int32_t bitsPerSecond, EncoderAudience** audience) {
  if (audience == nullptr || bitsPerSecond <= 0) return EncoderResult::InvalidArg;
  if (audience_) return EncoderResult::Unexpected;  // this encoder serves one audience
  audience_ = std::make_unique<WmEncoderAudience>(bitsPerSecond);
  *audience = audience_.get();
  return EncoderResult::Ok;
}

HResult WmEncoderProfile::Validate() {
  if (contentType_ == 0) return EncoderResult::InvalidArg;
  if (!audience_) return EncoderResult::MissingAudience;
  const AudienceSettings& settings = audience_->Settings();
  if (HasVideo() && (settings.VideoCodec < 0 || settings.FpsTimes1000 <= 0))
    return EncoderResult::InvalidArg;
  return EncoderResult::Ok;
}

}  // namespace framory
