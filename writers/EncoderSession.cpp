#include "writers/EncoderSession.h"

#include <chrono>
#include <thread>

#include "writers/WriterReports.h"

namespace framory {
namespace {

constexpr char kSourceGroupName[] = "SourceGroup1";
constexpr char kDefaultAudioDevice[] = "Device://Default_Audio_Device";
constexpr char kScreenCapture[] = "ScreenCap://ScreenCapture1";
constexpr char kProfileName[] = "Custom Screen Capture Profile";
constexpr char kProfileDescription[] = "A Custom Video Profile For Screen Capture";
constexpr std::int32_t kAudienceBitRate = 400000;
constexpr std::int32_t kVideoStream = 0;
constexpr std::int32_t kBufferWindowMs = 5000;
constexpr std::int32_t kImageSharpness = 95;
constexpr std::int32_t kBroadcastPort = 8080;
constexpr std::int32_t kLanguageEnglishUs = 1033;
constexpr auto kMergePollInterval = std::chrono::milliseconds(500);

std::int32_t RoundUpToEven(std::int32_t value) { return value + (value & 1); }
std::int32_t RoundDownToEven(std::int32_t value) { return value & ~1; }

}  // namespace

EncoderSession::EncoderSession(MediaEncoderLibrary& library, WriterReports& reports)
    : library_(library), reports_(reports) {}

EncoderSession::~EncoderSession() {
  broadcastObject_ = nullptr;
  profile_.reset();
  if (encoder_) {
    encoder_->PrepareToEncode(false);
    encoder_->Stop();
    encoder_.reset();
  }
}

void EncoderSession::SetCaptureRect(const Rect& rect) {
  if (rect.left < 0 || rect.top < 0 || rect.right < rect.left || rect.bottom < rect.top) return;
  const Rect even{RoundUpToEven(rect.left), RoundUpToEven(rect.top), RoundDownToEven(rect.right),
                  RoundDownToEven(rect.bottom)};
  if (even == captureRect_) return;
  captureRect_ = even;
  wholeScreen_ = false;
}

std::int32_t EncoderSession::Configure(const std::string& outputPath) {
  const HResult result = ConfigureEncoder(outputPath);
  if (result < 0) {
    const EncoderFailureKind kind =
        encoder_ ? encoder_->LastFailureKind() : EncoderFailureKind::Unknown;
    reports_.Report(WriterFailure::EncoderMissing, static_cast<std::int32_t>(kind));
  }
  return result;
}

HResult EncoderSession::ConfigureEncoder(const std::string& outputPath) {
  if (library_.CreateEncoder(&encoder_) < 0 || !encoder_) {
    encoder_.reset();
    return EncoderResult::Fail;
  }
  EncoderSourceGroupCollection* groups = nullptr;
  if (encoder_->SourceGroupCollection(&groups) < 0 || groups == nullptr) return EncoderResult::Fail;
  EncoderSourceGroup* group = nullptr;
  HResult result = groups->Add(kSourceGroupName, &group);
  if (result < 0) return result;

  if (recordAudio_) {
    EncoderSource* audio = nullptr;
    result = group->AddSource(kEncoderAudio, &audio);
    if (result < 0) return result;
    // A missing audio device shows up when the encoder prepares.
    audio->SetInput(kDefaultAudioDevice, "", "");
  }
  if (recordVideo_) {
    result = AddVideoSource(*group);
    if (result < 0) return result;
  }
  if (BuildProfile() < 0) return EncoderResult::Fail;
  result = group->SetProfile(profile_.get());
  if (result < 0) return result;

  if (!outputPath.empty()) {
    EncoderFile* file = nullptr;
    result = encoder_->File(&file);
    if (result < 0) return result;
    result = file->SetLocalFileName(outputPath);
    if (result < 0) return result;
  }
  if (broadcast_ && encoder_->Broadcast(&broadcastObject_) >= 0 && broadcastObject_ != nullptr) {
    broadcastObject_->SetPortNumber(kProtocolHttp, kBroadcastPort);
    broadcastObject_ = nullptr;
  }
  return encoder_->PrepareToEncode(true);
}

HResult EncoderSession::AddVideoSource(EncoderSourceGroup& group) {
  EncoderSource* video = nullptr;
  HResult result = group.AddSource(kEncoderVideo, &video);
  if (result < 0) return result;
  result = video->SetInput(kScreenCapture, "", "");
  if (result < 0) return result;
  EncoderPropertyBag* properties = video->PropertyBag();
  if (properties == nullptr) return EncoderResult::Fail;
  result = properties->WriteBool("Screen", wholeScreen_);
  if (result < 0) return result;
  if (!wholeScreen_) {
    // The first of these that fails ends the list; the encoder then
    // captures with what it got.
    (void)(properties->WriteLong("Left", captureRect_.left) >= 0 &&
           properties->WriteLong("Right", captureRect_.right) >= 0 &&
           properties->WriteLong("Top", captureRect_.top) >= 0 &&
           properties->WriteLong("Bottom", captureRect_.bottom) >= 0 &&
           properties->WriteBool("FlashRect", true) >= 0);
  }
  return EncoderResult::Ok;
}

HResult EncoderSession::BuildProfile() {
  if (library_.CreateProfile(&profile_) < 0 || !profile_) return EncoderResult::Fail;
  EncoderProfile& profile = *profile_;
  if (profile.SetValidateMode(true) < 0) return EncoderResult::Fail;
  if (profile.SetName(kProfileName) < 0 || profile.SetDescription(kProfileDescription) < 0)
    return EncoderResult::Fail;
  if (recordAudio_) {
    if (profile.SetContentType(recordVideo_ ? kContentAudioVideo : kContentAudio) < 0)
      return EncoderResult::Fail;
    // Looked up for the sound stream; when it is not offered the encoder
    // keeps its own audio codec, which is what is used either way.
    std::int32_t audioCodec = -1;
    profile.FindCodecIndex(kEncoderAudio, "MPG3", &audioCodec);
  } else {
    if (profile.SetContentType(kContentVideo) < 0 ||
        profile.SetVideoBitrateMode(kVideoStream, 1) < 0)
      return EncoderResult::Fail;
  }
  EncoderAudience* audience = nullptr;
  if (profile.AddAudience(kAudienceBitRate, &audience) < 0 || audience == nullptr)
    return EncoderResult::Fail;
  if (recordVideo_) {
    std::int32_t videoCodec = -1;
    if (profile.FindCodecIndex(kEncoderVideo, "MSS2", &videoCodec) < 0 ||
        audience->SetVideoCodec(kVideoStream, videoCodec) < 0 ||
        audience->SetVideoWidth(kVideoStream, 0) < 0 ||
        audience->SetVideoHeight(kVideoStream, 0) < 0 ||
        audience->SetVideoBufferWindow(kVideoStream, kBufferWindowMs) < 0 ||
        audience->SetVideoFps(kVideoStream, static_cast<std::int32_t>(framesPerSecond_ * 1000)) <
            0 ||
        audience->SetVideoImageSharpness(kVideoStream, kImageSharpness) < 0)
      return EncoderResult::Fail;
  }
  if (profile.Validate() < 0) return EncoderResult::Fail;
  return EncoderResult::Ok;
}

void EncoderSession::StartEncoding() {
  if (!encoder_) return;
  if (encoder_->Start() < 0) reports_.Report(WriterFailure::EncoderStart);
}

void EncoderSession::PauseEncoding() {
  if (encoder_) encoder_->Pause();
}

void EncoderSession::ReportMergeError(WriterReports& reports, HResult result) {
  if (result < 0) reports.Report(WriterFailure::MergeRefused, result);
}

bool EncoderSession::MergeSoundTrack(MediaEncoderLibrary& library, WriterReports& reports,
                                     const std::string& videoPath, const std::string& soundPath,
                                     const std::string& mergedPath) {
  if (videoPath.empty() || soundPath.empty() || mergedPath.empty()) return false;
  bool merged = false;
  std::unique_ptr<EncoderStreamEditor> editor;
  if (library.CreateStreamEditor(&editor) >= 0 && editor) {
    editor->SetOutputFile(mergedPath);
    HResult result = editor->AddStream(soundPath, kEncoderAudio, kLanguageEnglishUs, 0, 0, 0, 0);
    if (result >= 0)
      result = editor->AddStream(videoPath, kEncoderVideo, kLanguageEnglishUs, 0, 0, 0, 0);
    if (result >= 0) {
      result = editor->Validate();
      ReportMergeError(reports, result);
    }
    if (result >= 0) result = editor->Start();
    if (result < 0) {
      editor->Stop();
    } else {
      std::int32_t state = 1;
      std::int32_t progress = 0;
      bool callFailed = false;
      // The editor only tells its progress when asked; this runs on the
      // merge's own thread (SoundTrackMerge), never on the program's.
      while (state == 1 && !callFailed && progress < 99) {
        std::this_thread::sleep_for(kMergePollInterval);
        callFailed = editor->RunState(&state) < 0 || editor->Progress(&progress) < 0;
      }
      editor->Stop();
      // Only a run that got to the end wrote the merged file; anything else
      // keeps both source files.
      merged = !callFailed && progress >= 99;
    }
  }
  editor.reset();
  return merged;
}

}  // namespace framory
