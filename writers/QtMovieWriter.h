// Writes one QuickTime movie (".mov") with one video track whose samples are
// the clip's frames, each compressed on its own as Photo-JPEG. QuickTime is
// reached only through the Cinelink library's exports.
//
// The writer never gets a frame as an argument: Prepare wraps the clip's
// movie frame in an offscreen graphics world, and every AddFrame compresses
// what the frame holds at that moment. The movie is finished (media edits
// ended, media inserted into the track, movie written into the file) when
// the writer is closed after at least one frame was added.
//
// Each compressed sample is handed to the media one frame late: a repeat of
// an unchanged screen then only lengthens the sample still held, and the
// next frame (or closing) adds it with its whole duration. A failure to add
// a sample therefore shows at the frame after it, or for the last frame in
// CloseResult.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/Cinelink.h"
#include "writers/MovieWriter.h"

namespace framory {

class WriterReports;

class QtMovieWriter : public MovieWriter {
 public:
  enum State : std::int32_t { kClosed = 0, kPrepared = 1, kEditing = 2 };

  // Initialises QuickTime; when it cannot be, reports it (the user is sent
  // to download QuickTime) and the writer exists with every later call
  // failing. The screen size widens
  // the compression buffer so that it is sized once per clip.
  QtMovieWriter(WriterReports& reports, std::string path, std::int32_t screenWidth,
                std::int32_t screenHeight);
  ~QtMovieWriter() override;

  // Samples last `milliseconds` (at least 1) at a time scale of 1000.
  void SetFramePeriod(std::int32_t milliseconds);

  // Creates the movie file, its track and media for `frame`, which must stay
  // in place (and the same size) until the writer is closed.
  std::int32_t Prepare(const MovieFrame& frame) override;
  // Compresses the prepared frame's present contents as the next sample.
  std::int32_t AddFrame(const MovieFrame& frame) override;
  // The sample held for the media lasts one frame period longer.
  std::int32_t RepeatFrame(const MovieFrame& frame) override;
  // Frames and repeats placed by the clock: the held sample also lasts over
  // the positions skipped before `position`.
  std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t position) override;
  std::int32_t RepeatFrameAt(const MovieFrame& frame, std::int32_t position) override;
  // Finishes the movie if frames were added, releases everything and ends
  // QuickTime for this writer. Safe to call again.
  void Close() override;
  // Below 0 when the last Close could not finish the movie whole: the held
  // sample was not added or the movie not written into the file.
  std::int32_t CloseResult() const override { return closeResult_; }

  std::int32_t State() const { return state_; }
  const char* LastError() const { return lastError_; }
  TimeScale TimeScaleValue() const { return timeScale_; }
  TimeValue FrameDuration() const { return frameDuration_; }

 private:
  std::int32_t Fail(const char* text);
  std::int32_t StartEditing();
  std::int32_t AddPreparedFrame();
  // Lengthens the held sample over the positions before `position` that no
  // frame or repeat took.
  void HoldUntil(std::int32_t position);
  // Adds the held sample to the media with its duration; false on failure.
  bool AddHeldSample();
  void CleanUp();

  WriterReports& reports_;
  std::string path_;
  std::int32_t screenWidth_;
  std::int32_t screenHeight_;
  bool quickTimeOpen_ = true;  // until Close() has ended QuickTime

  CGrafPtr savedPort_ = nullptr;
  GDHandle savedDevice_ = nullptr;
  GWorldPtr frameWorld_ = nullptr;
  Track track_ = nullptr;
  Media media_ = nullptr;
  Movie movie_ = nullptr;
  Str255 fileName_ = {};
  std::int16_t fileRef_ = 0;
  ::Rect frameRect_ = {0, 0, 0, 0};  // QuickDraw's, not framory::Rect
  Handle compressedData_ = nullptr;
  Ptr compressedDataPointer_ = nullptr;
  ImageDescriptionHandle imageDescription_ = nullptr;
  char lastError_[256] = {};
  std::int32_t state_ = kClosed;
  std::int32_t closeResult_ = kWriterOk;
  TimeScale timeScale_ = 600;
  TimeValue frameDuration_ = 60;
  // Duration of the compressed sample not yet added to the media; 0: none.
  TimeValue heldDuration_ = 0;
  std::int32_t nextPosition_ = 0;  // frame periods taken by frames and repeats so far
  QtBitmap bitmap_ = {};
};

}  // namespace framory
