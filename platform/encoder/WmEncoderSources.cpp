#include "platform/encoder/WmEncoderSources.h"

#include "platform/encoder/WmEncoderProfile.h"

namespace framory {
namespace {

constexpr char kDefaultAudioDevice[] = "Device://Default_Audio_Device";
constexpr char kScreenCapture[] = "ScreenCap://ScreenCapture1";

}  // namespace

HResult ScreenCapturePropertyBag::WriteBool(const std::string& name, bool value) {
  if (name == "Screen") {
    Screen = value;
  } else if (name == "FlashRect") {
    FlashRect = value;
  } else {
    return EncoderResult::InvalidArg;
  }
  return EncoderResult::Ok;
}

HResult ScreenCapturePropertyBag::WriteLong(const std::string& name, std::int32_t value) {
  if (value < 0) return EncoderResult::InvalidArg;
  if (name == "Left") {
    Left = value;
  } else if (name == "Right") {
    Right = value;
  } else if (name == "Top") {
    Top = value;
  } else if (name == "Bottom") {
    Bottom = value;
  } else {
    return EncoderResult::InvalidArg;
  }
  return EncoderResult::Ok;
}

HResult WmEncoderSource::SetInput(const std::string& input, const std::string& scheme,
                                  const std::string& /*initData*/) {
  if (!scheme.empty()) return EncoderResult::UnsupportedSource;
  const char* expected = type_ == kEncoderAudio ? kDefaultAudioDevice : kScreenCapture;
  if (input != expected) return EncoderResult::UnsupportedSource;
  hasInput_ = true;
  return EncoderResult::Ok;
}

EncoderPropertyBag* WmEncoderSource::PropertyBag() {
  return type_ == kEncoderVideo ? &properties_ : nullptr;
}

HResult WmEncoderSourceGroup::AddSource(std::int32_t sourceType, EncoderSource** source) {
  if (source == nullptr || (sourceType != kEncoderAudio && sourceType != kEncoderVideo))
    return EncoderResult::InvalidArg;
  if (Source(sourceType) != nullptr) return EncoderResult::Unexpected;  // one of each type
  sources_.push_back(std::make_unique<WmEncoderSource>(sourceType));
  *source = sources_.back().get();
  return EncoderResult::Ok;
}

HResult WmEncoderSourceGroup::SetProfile(EncoderProfile* profile) {
  auto* ours = dynamic_cast<WmEncoderProfile*>(profile);
  if (ours == nullptr) return EncoderResult::InvalidArg;
  profile_ = ours;
  return EncoderResult::Ok;
}

const WmEncoderSource* WmEncoderSourceGroup::Source(std::int32_t type) const {
  for (const auto& source : sources_) {
    if (source->Type() == type) return source.get();
  }
  return nullptr;
}

HResult WmEncoderSourceGroups::Add(const std::string& name, EncoderSourceGroup** group) {
  if (group == nullptr || name.empty()) return EncoderResult::InvalidArg;
  groups_.push_back(std::make_unique<WmEncoderSourceGroup>(name));
  *group = groups_.back().get();
  return EncoderResult::Ok;
}

}  // namespace framory
