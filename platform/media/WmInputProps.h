// The media properties of one writer input: its major type, fixed by the
// profile, and the media type the caller gave it (copied, format block
// included). Video inputs take uncompressed RGB in a video info header.
#pragma once

#include "writers/WmFormatApi.h"

namespace framory {

class WmInputProps : public WmMediaProps {
 public:
  explicit WmInputProps(const WmGuid& majorType) : majorType_(majorType) {}

  std::int32_t GetType(WmGuid* majorType) const override;
  // Video: FormatVideoInfo with a whole video info header, BI_RGB, a
  // positive width and a height other than 0. Audio: this library codes no
  // sound, so NotImplemented.
  std::int32_t SetMediaType(const WmMediaType& type) override;

  bool HasMediaType() const { return hasMediaType_; }
  const WmGuid& SubType() const { return subType_; }
  const WmVideoInfoHeader& VideoInfo() const { return videoInfo_; }

 private:
  WmGuid majorType_;
  bool hasMediaType_ = false;
  WmGuid subType_;
  WmVideoInfoHeader videoInfo_;
};

}  // namespace framory
