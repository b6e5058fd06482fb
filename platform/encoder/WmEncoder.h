// The encoder object: settings objects to fill in (source groups, profile,
// file, broadcast), then PrepareToEncode(true) opens everything that can
// fail (X display, sound server, encoders, output file or broadcast port),
// Start launches the capture threads, Pause and Start pause and resume the
// shared clock, and Stop ends the threads and finishes the output.
//
// The profile's settings are read once, when the encoding is prepared; the
// profile may be released afterwards. An encoding that lost a source on the
// way (the X server closed, the sound server died) keeps writing the rest
// and says why on stderr; Stop still finishes the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/encoder/WmEncoderSources.h"
#include "writers/MediaEncoderApi.h"

namespace framory {

class AsfOutput;
class BroadcastServer;
class EncodingClock;
class ScreenCaptureThread;
class SoundCaptureThread;
class StreamScreen;

class WmEncoder : public MediaEncoder {
 public:
  WmEncoder();
  ~WmEncoder() override;
  WmEncoder(const WmEncoder&) = delete;
  WmEncoder& operator=(const WmEncoder&) = delete;

  HResult SourceGroupCollection(EncoderSourceGroupCollection** collection) override;
  HResult File(EncoderFile** file) override;
  HResult Broadcast(EncoderBroadcast** broadcast) override;
  HResult PrepareToEncode(bool prepare) override;
  HResult Start() override;
  HResult Pause() override;
  HResult Stop() override;

  // Takes the pictures from `stream` instead of X11 (null: X11 again); read
  // when the encoding is prepared. The stream must outlive the encoder.
  void SetScreenStream(const StreamScreen* stream) { stream_ = stream; }

  // Why the last prepare failed, or why a source stopped early.
  const std::string& LastFailure() const { return failure_; }
  EncoderFailureKind LastFailureKind() const override { return failureKind_; }
  bool FileWriteFailed(std::uint32_t* error) const override;
  std::uint64_t FramesEncoded() const;
  std::uint64_t FramesMissed() const;

 private:
  class FileObject : public EncoderFile {
   public:
    HResult SetLocalFileName(const std::string& path) override;
    std::string Path;
  };
  class BroadcastObject : public EncoderBroadcast {
   public:
    HResult SetPortNumber(std::int32_t protocol, std::int32_t port) override;
    std::int32_t Port = 0;
  };
  enum class State { Idle, Prepared, Running, Paused };

  HResult Prepare();
  void Release();
  HResult Failed(HResult result, const std::string& why);

  WmEncoderSourceGroups groups_;
  const StreamScreen* stream_ = nullptr;
  FileObject file_;
  BroadcastObject broadcast_;
  State state_ = State::Idle;
  std::string failure_;
  EncoderFailureKind failureKind_ = EncoderFailureKind::Unknown;
  std::unique_ptr<EncodingClock> clock_;
  std::unique_ptr<ScreenCaptureThread> screen_;
  std::unique_ptr<SoundCaptureThread> sound_;
  std::unique_ptr<AsfOutput> output_;
  std::unique_ptr<BroadcastServer> server_;
  int videoIndex_ = -1;
  int audioIndex_ = -1;
  std::uint64_t framesEncoded_ = 0;
  std::uint64_t framesMissed_ = 0;
};

}  // namespace framory
