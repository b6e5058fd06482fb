// Writes one Windows Media file (".wmv") through the Windows-Media-Format-like
// library with one of its system profiles. Construction loads the profile,
// makes the writer, finds its video and audio inputs and names the output
// file; the first frame sets the video input's format (uncompressed 32-bit
// rows) and begins writing; every frame is copied once, straight into a
// sample allocated by the library, and stamped in 100-ns units. The profile's
// audio input is found but never fed. A failed write ends the file and the
// writer stays closed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "writers/MovieWriter.h"
#include "writers/WmFormatApi.h"

namespace framory {

class WriterReports;

class WmvWriter : public MovieWriter {
 public:
  enum State : std::int32_t { kClosed = 0, kReady = 1, kWriting = 2 };

  // Prepares everything up to naming the output file (state kReady), or
  // stays closed after any failure. When the library's profile manager or
  // writer cannot be made, that is reported (the user is sent to download
  // the component). The screen size goes into the video format's bit rate.
  WmvWriter(WmFormatLibrary& library, WriterReports& reports, const std::string& path,
            const WmGuid& profileId, std::int32_t screenWidth, std::int32_t screenHeight);
  ~WmvWriter() override;

  // Frames per second = 1000 / `milliseconds`; 0 or less leaves the rate.
  void SetFrameRate(std::int32_t milliseconds);

  std::int32_t AddFrame(const MovieFrame& frame) override;
  // A repeat writes no sample: the next one is stamped at its own slot, and
  // when the clip ends on repeats the picture is written once more at the
  // last slot, so the file keeps the clip's length.
  std::int32_t RepeatFrame(const MovieFrame& frame) override;
  // Stamps the frame at `position` frame periods; the time of the positions
  // skipped holds the previous picture.
  std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t position) override;
  std::int32_t RepeatFrameAt(const MovieFrame& frame, std::int32_t position) override;
  void Close() override;
  // Below 0 when the file could not be finished: frames still queued for
  // encoding, the picture of trailing repeats, the index or the final sizes
  // did not reach the disk.
  std::int32_t CloseResult() const override { return closeResult_; }
  // Below 0 when construction failed: every frame will be refused.
  std::int32_t StartResult() const override { return startResult_; }

  std::int32_t State() const { return state_; }
  double FramesPerSecond() const { return framesPerSecond_; }
  std::int32_t FramesWritten() const { return framesWritten_; }
  // Presentation time of the next frame, whole milliseconds.
  std::int64_t NextSampleTime() const { return nextSampleTime_; }

  // The video format the first frame of `width` × `height` gets: 32-bit
  // bottom-up rows; bit rate and average frame time from the frame rate.
  WmVideoInfoHeader VideoInfoFor(std::int32_t width, std::int32_t height) const;
  // The presentation time of frame `frames` at `framesPerSecond`, whole
  // milliseconds, computed in extended precision so that it never runs ahead
  // of the frame period.
  static std::int64_t SampleTimeOf(std::int32_t frames, double framesPerSecond);
  // The whole milliseconds of one frame of an average frame time (100-ns
  // units), at least 1: how long each frame lasts in the file. And the same
  // for a capture period of `timerValue` milliseconds.
  static std::int64_t FrameMillisecondsOf(std::int64_t avgTimePerFrame);
  static std::int64_t FrameMilliseconds(std::int32_t timerValue);

 private:
  void Construct(const std::string& path, const WmGuid& profileId);
  bool FindInputs();
  std::int32_t Begin(const MovieFrame& frame);
  std::int32_t Write(const MovieFrame& frame);
  static WmBitmapInfoHeader FormatOf(const MovieFrame& frame);

  WmFormatLibrary& library_;
  WriterReports& reports_;
  std::int32_t screenWidth_;
  std::int32_t screenHeight_;

  std::unique_ptr<WmProfile> profile_;
  std::unique_ptr<WmWriter> writer_;
  std::unique_ptr<WmMediaProps> videoInput_;
  std::unique_ptr<WmMediaProps> audioInput_;
  std::unique_ptr<WmProfileManager> profileManager_;
  std::uint32_t videoInputNumber_ = 0;
  std::uint32_t audioInputNumber_ = 0;
  std::int32_t framesWritten_ = 0;
  std::int64_t nextSampleTime_ = 0;
  std::int32_t state_ = kClosed;
  std::int32_t startResult_ = kWriterFail;
  std::int32_t closeResult_ = kWriterOk;
  double framesPerSecond_ = 2.0;
  // The picture of trailing repeats, written once more when the clip ends.
  const MovieFrame* repeated_ = nullptr;
  // The format writing began with; later frames must match it.
  WmBitmapInfoHeader begun_;
};

}  // namespace framory
