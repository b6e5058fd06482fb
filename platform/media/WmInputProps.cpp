#include "platform/media/WmInputProps.h"

#include <cstring>

namespace framory {

std::int32_t WmInputProps::GetType(WmGuid* majorType) const {
  if (majorType == nullptr) return WmResult::InvalidArg;
  *majorType = majorType_;
  return WmResult::Ok;
}

std::int32_t WmInputProps::SetMediaType(const WmMediaType& type) {
  if (!(type.MajorType == majorType_)) return WmResult::InvalidArg;
  if (!(majorType_ == WmGuids::MediaTypeVideo)) return WmResult::NotImplemented;
  if (!(type.FormatType == WmGuids::FormatVideoInfo) || type.Format == nullptr ||
      type.FormatBytes < sizeof(WmVideoInfoHeader)) {
    return WmResult::InvalidArg;
  }
  WmVideoInfoHeader info;
  std::memcpy(&info, type.Format, sizeof info);
  const WmBitmapInfoHeader& bmi = info.BmiHeader;
  if (bmi.Compression != kWmBiRgb || bmi.Width <= 0 || bmi.Height == 0 || bmi.Height == INT32_MIN) {
    return WmResult::InvalidArg;
  }
  subType_ = type.SubType;
  videoInfo_ = info;
  hasMediaType_ = true;
  return WmResult::Ok;
}

}  // namespace framory
