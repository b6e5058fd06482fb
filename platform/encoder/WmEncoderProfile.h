// The encoder's custom profile: a name, a content type (audio, video or
// both), a video bit-rate mode and one audience whose video settings (codec,
// size, buffer, frame rate, image sharpness) the encoder reads when it
// prepares. The codec lists are what this encoder offers: video "MSS2" (the
// screen codec, encoded as Windows Media Video 8) and "WMV2"; audio "WMA2".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "writers/MediaEncoderApi.h"

namespace framory {

struct AudienceSettings {
  std::int32_t BitsPerSecond = 0;
  std::int32_t VideoCodec = -1;
  std::int32_t Width = 0, Height = 0;  // 0: the source's size
  std::int32_t BufferMs = 5000;
  std::int32_t FpsTimes1000 = 0;
  std::int32_t ImageSharpness = -1;  // -1: not set
};

class WmEncoderAudience : public EncoderAudience {
 public:
  explicit WmEncoderAudience(std::int32_t bitsPerSecond) {
    settings_.BitsPerSecond = bitsPerSecond;
  }
  HResult SetVideoCodec(std::int32_t stream, std::int32_t codecIndex) override;
  HResult SetVideoWidth(std::int32_t stream, std::int32_t width) override;
  HResult SetVideoHeight(std::int32_t stream, std::int32_t height) override;
  HResult SetVideoBufferWindow(std::int32_t stream, std::int32_t milliseconds) override;
  HResult SetVideoFps(std::int32_t stream, std::int32_t fpsTimes1000) override;
  HResult SetVideoImageSharpness(std::int32_t stream, std::int32_t quality) override;
  const AudienceSettings& Settings() const { return settings_; }

 private:
  AudienceSettings settings_;
};

class WmEncoderProfile : public EncoderProfile {
 public:
  static constexpr int kVideoCodecCount = 2;

  HResult SetValidateMode(bool on) override;
  HResult SetName(const std::string& name) override;
  HResult SetDescription(const std::string& description) override;
  HResult SetContentType(std::int32_t contentType) override;
  HResult SetVideoBitrateMode(std::int32_t stream, std::int32_t mode) override;
  HResult FindCodecIndex(std::int32_t sourceType, const std::string& fourCC,
                         std::int32_t* index) override;
  HResult AddAudience(std::int32_t bitsPerSecond, EncoderAudience** audience) override;
  HResult Validate() override;

  std::int32_t ContentType() const { return contentType_; }
  bool HasAudio() const { return contentType_ & kContentAudio; }
  bool HasVideo() const { return contentType_ & kContentVideo; }
  // The first audience; null when none was added.
  const WmEncoderAudience* Audience() const { return audience_.get(); }
  const std::string& Name() const { return name_; }

 private:
  bool validateMode_ = false;
  std::string name_;
  std::string description_;
  std::int32_t contentType_ = 0;
  std::int32_t videoBitrateMode_ = 0;
  std::unique_ptr<WmEncoderAudience> audience_;
};

// Maps an audience's image sharpness (0 smooth … 100 sharp) to the fixed
// quantiser the video encoder uses: 2 at 100 up to 31 at 0.
int QuantiserForSharpness(std::int32_t sharpness);

}  // namespace framory
