// What the encoder is told to capture: source groups, each with at most one
// audio and one video source and a profile, and the screen-capture plug-in's
// property bag of a video source ("Screen", "Left", "Right", "Top",
// "Bottom", "FlashRect"). These only hold settings; the encoder reads them
// when it prepares.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "writers/MediaEncoderApi.h"

namespace framory {

class WmEncoderProfile;

class ScreenCapturePropertyBag : public EncoderPropertyBag {
 public:
  HResult WriteBool(const std::string& name, bool value) override;
  HResult WriteLong(const std::string& name, std::int32_t value) override;

  bool Screen = true;
  std::int32_t Left = 0, Right = 0, Top = 0, Bottom = 0;
  bool FlashRect = false;
};

class WmEncoderSource : public EncoderSource {
 public:
  explicit WmEncoderSource(std::int32_t type) : type_(type) {}
  HResult SetInput(const std::string& input, const std::string& scheme,
                   const std::string& initData) override;
  EncoderPropertyBag* PropertyBag() override;

  std::int32_t Type() const { return type_; }
  bool HasInput() const { return hasInput_; }
  const ScreenCapturePropertyBag& Properties() const { return properties_; }

 private:
  std::int32_t type_;
  bool hasInput_ = false;
  ScreenCapturePropertyBag properties_;
};

class WmEncoderSourceGroup : public EncoderSourceGroup {
 public:
  explicit WmEncoderSourceGroup(std::string name) : name_(std::move(name)) {}
  HResult AddSource(std::int32_t sourceType, EncoderSource** source) override;
  HResult SetProfile(EncoderProfile* profile) override;

  const WmEncoderSource* Source(std::int32_t type) const;
  WmEncoderProfile* Profile() const { return profile_; }

 private:
  std::string name_;
  std::vector<std::unique_ptr<WmEncoderSource>> sources_;
  WmEncoderProfile* profile_ = nullptr;
};

class WmEncoderSourceGroups : public EncoderSourceGroupCollection {
 public:
  HResult Add(const std::string& name, EncoderSourceGroup** group) override;
  // The group that encodes: the first one added.
  WmEncoderSourceGroup* Active() const { return groups_.empty() ? nullptr : groups_[0].get(); }

 private:
  std::vector<std::unique_ptr<WmEncoderSourceGroup>> groups_;
};

}  // namespace framory
