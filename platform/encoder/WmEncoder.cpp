#include "platform/encoder/WmEncoder.h"

#include <cerrno>
#include <cstdio>

#include "platform/encoder/AsfOutput.h"
#include "platform/encoder/BroadcastServer.h"
#include "platform/encoder/EncodingClock.h"
#include "platform/encoder/ScreenCaptureThread.h"
#include "platform/encoder/SoundCaptureThread.h"
#include "platform/encoder/WmEncoderProfile.h"

namespace framory {

HResult WmEncoder::FileObject::SetLocalFileName(const std::string& path) {
  if (path.empty()) return EncoderResult::InvalidArg;
  Path = path;
  return EncoderResult::Ok;
}

HResult WmEncoder::BroadcastObject::SetPortNumber(std::int32_t protocol, std::int32_t port) {
  if (protocol != kProtocolHttp || port <= 0 || port > 65535) return EncoderResult::InvalidArg;
  Port = port;
  return EncoderResult::Ok;
}

WmEncoder::WmEncoder() = default;

WmEncoder::~WmEncoder() { Stop(); }

HResult WmEncoder::SourceGroupCollection(EncoderSourceGroupCollection** collection) {
  if (collection == nullptr) return EncoderResult::InvalidArg;
  *collection = &groups_;
  return EncoderResult::Ok;
}

HResult WmEncoder::File(EncoderFile** file) {
  if (file == nullptr) return EncoderResult::InvalidArg;
  *file = &file_;
  return EncoderResult::Ok;
}

HResult WmEncoder::Broadcast(EncoderBroadcast** broadcast) {
  if (broadcast == nullptr) return EncoderResult::InvalidArg;
  *broadcast = &broadcast_;
  return EncoderResult::Ok;
}

HResult WmEncoder::Failed(HResult result, const std::string& why) {
  failure_ = why;
  std::fprintf(stderr, "framory: encoder: %s\n", why.c_str());
  Release();
  return result;
}

HResult WmEncoder::PrepareToEncode(bool prepare) {
  if (!prepare) {
    // A running encoding is ended by Stop; one never started is let go.
    if (state_ == State::Prepared) Stop();
    return EncoderResult::Ok;
  }
  if (state_ != State::Idle) return EncoderResult::Unexpected;
  return Prepare();
}

HResult WmEncoder::Prepare() {
  failure_.clear();
  failureKind_ = EncoderFailureKind::Unknown;
  const WmEncoderSourceGroup* group = groups_.Active();
  if (group == nullptr) return Failed(EncoderResult::Fail, "no source group");
  WmEncoderProfile* profile = group->Profile();
  if (profile == nullptr) return Failed(EncoderResult::MissingAudience, "no profile");
  const HResult valid = profile->Validate();
  if (valid < 0) return Failed(valid, "the profile is not complete");
  const AudienceSettings audience = profile->Audience()->Settings();
  const WmEncoderSource* audio = group->Source(kEncoderAudio);
  const WmEncoderSource* video = group->Source(kEncoderVideo);
  const bool withAudio = profile->HasAudio() && audio != nullptr && audio->HasInput();
  const bool withVideo = profile->HasVideo() && video != nullptr && video->HasInput();
  if (!withAudio && !withVideo)
    return Failed(EncoderResult::UnsupportedSource, "no source matches the profile");
  if (file_.Path.empty() && broadcast_.Port == 0)
    return Failed(EncoderResult::OutputUnavailable, "neither a file nor a broadcast port is set");

  clock_ = std::make_unique<EncodingClock>();
  std::string why;
  if (withVideo) {
    const ScreenCapturePropertyBag& bag = video->Properties();
    ScreenCaptureSettings settings;
    settings.WholeScreen = bag.Screen;
    settings.Left = bag.Left;
    settings.Top = bag.Top;
    settings.Right = bag.Right;
    settings.Bottom = bag.Bottom;
    settings.FlashRect = bag.FlashRect;
    settings.FramesPerSecond = audience.FpsTimes1000 / 1000.0;
    settings.Quantiser = QuantiserForSharpness(audience.ImageSharpness);
    settings.Width = audience.Width;
    settings.Height = audience.Height;
    settings.Stream = stream_;
    screen_ = std::make_unique<ScreenCaptureThread>(*clock_);
    const HResult result = screen_->Prepare(settings, &why);
    if (result == EncoderResult::DeviceUnavailable) failureKind_ = EncoderFailureKind::NoDisplay;
    if (result < 0) return Failed(result, why);
  }
  if (withAudio) {
    sound_ = std::make_unique<SoundCaptureThread>(*clock_);
    const HResult result = sound_->Prepare(&why);
    if (result == EncoderResult::DeviceUnavailable) {
      failureKind_ = EncoderFailureKind::NoSoundServer;
    }
    if (result < 0) return Failed(result, why);
  }
  output_ = std::make_unique<AsfOutput>();
  if (screen_) videoIndex_ = output_->AddStream(screen_->Codec());
  if (sound_) audioIndex_ = output_->AddStream(sound_->Codec());
  if ((screen_ && videoIndex_ < 0) || (sound_ && audioIndex_ < 0))
    return Failed(EncoderResult::Fail, "cannot set up the ASF output");
  if (broadcast_.Port != 0) {
    server_ = std::make_unique<BroadcastServer>();
    server_->SetVideoStreamNumber(screen_ ? AsfOutput::StreamNumber(videoIndex_) : 0);
    HResult result = output_->OpenLive(server_.get(), &why);
    if (result < 0) return Failed(result, why);
    if (!server_->Listen(broadcast_.Port, &why)) {
      // Listen leaves bind's error in errno (its clean-up does not change it).
      if (errno == EADDRINUSE) failureKind_ = EncoderFailureKind::BroadcastPortTaken;
      return Failed(EncoderResult::OutputUnavailable, why);
    }
  } else {
    const HResult result = output_->OpenFile(file_.Path, &why);
    if (result < 0) return Failed(result, why);
  }
  state_ = State::Prepared;
  return EncoderResult::Ok;
}

HResult WmEncoder::Start() {
  switch (state_) {
    case State::Idle:
      return EncoderResult::Unexpected;
    case State::Prepared:
      if (screen_) screen_->Launch(output_.get(), videoIndex_);
      if (sound_) sound_->Launch(output_.get(), audioIndex_);
      break;
    case State::Paused:
    case State::Running:
      break;
  }
  clock_->Start();
  state_ = State::Running;
  return EncoderResult::Ok;
}

HResult WmEncoder::Pause() {
  if (state_ != State::Running && state_ != State::Paused) return EncoderResult::Unexpected;
  clock_->Pause();
  state_ = State::Paused;
  return EncoderResult::Ok;
}

HResult WmEncoder::Stop() {
  if (state_ == State::Idle) return EncoderResult::Ok;
  clock_->Stop();
  if (screen_) {
    screen_->Join();
    framesEncoded_ = screen_->FramesEncoded();
    framesMissed_ = screen_->FramesMissed();
    if (!screen_->Failure().empty()) failure_ = screen_->Failure();
  }
  if (sound_) {
    sound_->Join();
    if (failure_.empty()) failure_ = sound_->Failure();
  }
  if (!failure_.empty()) std::fprintf(stderr, "framory: encoder: %s\n", failure_.c_str());
  output_->Finish();
  if (server_) server_->Stop();
  const bool writeFailed = output_->Failed();
  Release();
  return writeFailed ? EncoderResult::OutputUnavailable : EncoderResult::Ok;
}

void WmEncoder::Release() {
  if (clock_) clock_->Stop();
  // The threads go before the output and the server they write to.
  screen_.reset();
  sound_.reset();
  output_.reset();
  server_.reset();
  clock_.reset();
  videoIndex_ = audioIndex_ = -1;
  state_ = State::Idle;
}

bool WmEncoder::FileWriteFailed(std::uint32_t* error) const {
  // Only a file output is reported: a broadcast has viewers, not a disk.
  if (!output_ || server_ || !output_->Failed()) return false;
  if (error != nullptr) *error = output_->FailureError();
  return true;
}

std::uint64_t WmEncoder::FramesEncoded() const {
  return screen_ ? screen_->FramesEncoded() : framesEncoded_;
}

std::uint64_t WmEncoder::FramesMissed() const {
  return screen_ ? screen_->FramesMissed() : framesMissed_;
}

}  // namespace framory
