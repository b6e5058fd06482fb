// One screen encoder: the encoder that captures the region itself into a
// ".wmv" file (output type 19), serves it live over HTTP (30), or records
// only sound beside a WMV clip. The clip session sets the fields, calls
// Configure and StartEncoding, and destroys the session when the clip ends;
// destroying it stops the encoder, which finishes its file. The recorder's
// pause and resume reach PauseEncoding and StartEncoding.
//
// The encoder itself is an outside component reached through
// MediaEncoderLibrary; this class fixes what it is told and in which order,
// and reports when it cannot be used.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/Geometry.h"
#include "writers/MediaEncoderApi.h"
#include "writers/ScreenEncoder.h"

namespace framory {

class WriterReports;

class EncoderSession : public ScreenEncoder {
 public:
  EncoderSession(MediaEncoderLibrary& library, WriterReports& reports);
  ~EncoderSession() override;
  EncoderSession(const EncoderSession&) = delete;
  EncoderSession& operator=(const EncoderSession&) = delete;

  // Takes the rectangle with left and top rounded up, right and bottom
  // rounded down to even values; ignores a negative or inverted one.
  void SetCaptureRect(const Rect& rect) override;
  void SetFramesPerSecond(double framesPerSecond) override { framesPerSecond_ = framesPerSecond; }
  void SetRecordAudio(bool on) override { recordAudio_ = on; }
  void SetRecordVideo(bool on) override { recordVideo_ = on; }
  void SetBroadcast(bool on) override { broadcast_ = on; }
  std::int32_t Configure(const std::string& outputPath) override;
  void StartEncoding() override;
  void PauseEncoding() override;
  bool FileWriteFailed(std::uint32_t* error) const override {
    return encoder_ != nullptr && encoder_->FileWriteFailed(error);
  }

  double FramesPerSecond() const { return framesPerSecond_; }
  bool WholeScreen() const { return wholeScreen_; }
  const Rect& CaptureRect() const { return captureRect_; }
  bool RecordAudio() const { return recordAudio_; }
  bool RecordVideo() const { return recordVideo_; }
  bool Broadcast() const { return broadcast_; }
  bool HasEncoder() const { return encoder_ != nullptr; }

  // Joins the sound of `soundPath` and the pictures of `videoPath` into
  // `mergedPath` with the stream editor. True only once the merged file is
  // complete. A failed check of the inputs is reported. Polls the editor
  // until it ends: call it off the program's thread.
  static bool MergeSoundTrack(MediaEncoderLibrary& library, WriterReports& reports,
                              const std::string& videoPath, const std::string& soundPath,
                              const std::string& mergedPath);
  // Reports a failed check of the merge's inputs; nothing for result >= 0.
  static void ReportMergeError(WriterReports& reports, HResult result);

 private:
  HResult ConfigureEncoder(const std::string& outputPath);
  HResult AddVideoSource(EncoderSourceGroup& group);
  HResult BuildProfile();

  MediaEncoderLibrary& library_;
  WriterReports& reports_;

  std::unique_ptr<MediaEncoder> encoder_;
  std::unique_ptr<EncoderProfile> profile_;
  EncoderBroadcast* broadcastObject_ = nullptr;  // held only while the port is set
  double framesPerSecond_ = 10.0;
  bool wholeScreen_ = true;
  Rect captureRect_{-1, -1, -1, -1};
  bool recordAudio_ = true;
  bool recordVideo_ = true;
  bool broadcast_ = false;
};

}  // namespace framory
