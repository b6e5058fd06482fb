// How a writer tells of a failure the user must see. Writers return their
// status codes as before and name such a failure here; they never show a
// box or a cursor themselves. The capture layer's WriterFailureBoxes turns
// each name into the box with its text from WriterTexts, at the moment the
// writer reports it, so the boxes keep their order with the recorder's own.
#pragma once

#include <cstdint>
#include <string>

namespace framory {

// A failure a writer reports for the user.
enum class WriterFailure : std::int32_t {
  NoFailure = 0,
  // The AVI file or its stream could not be set up at the first frame.
  AviRender,
  // QuickTime could not be started for a clip.
  QuickTimeMissing,
  // The Windows Media profile manager or writer could not be made (the box
  // names the address where the component is found).
  WmvProfileManagerMissing,
  WmvWriterMissing,
  // The screen encoder could not be configured or started.
  EncoderMissing,
  EncoderStart,
  // A sound-track merge's inputs were refused (the reason names which).
  MergeRefused,
  // The streaming server could not be reached at the
  // broadcast's start, or refused the stream (the detail names the masked
  // address and the server's answer).
  StreamRefused,
  // The sound of an MP4 or WebM clip could not be started; the clip goes on
  // without it (the detail names the reason).
  ClipSoundMissing,
};

class WriterReports {
 public:
  virtual ~WriterReports() = default;
  // `reason`: the merge check's result for MergeRefused, the encoder's
  // EncoderFailureKind for EncoderMissing; 0 otherwise.
  virtual void Report(WriterFailure failure, std::int32_t reason = 0) = 0;
  // A failure whose reason is a sentence of its own (a sound server's or a
  // streaming server's answer), added to the box's text.
  virtual void ReportDetail(WriterFailure failure, const std::string& /*detail*/) {
    Report(failure);
  }
};

}  // namespace framory
