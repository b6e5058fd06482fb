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
//
// Every QuickTime call of the writer, from initialising QuickTime to ending
// it, runs on a thread of the writer's own (QtRuntimeThread), never on the
// caller's: the runtime is entered from one thread only. The graphics world
// wraps a copy of the frame that the writer owns; AddFrame copies the frame
// into it and returns while the runtime compresses it, so the JPEG
// compression runs beside the caller. The next AddFrame (or Close) waits for
// that compression, since the sample it made is added first, and waits for
// the sample to be added, so that a lost sample is reported by that call as
// before. A frame that cannot be compressed is reported the same way, by
// the next AddFrame (which then adds nothing) or by CloseResult. Message
// boxes are shown on the caller's thread.
//
// A journalled clip's samples are noted in its journal record, each duration
// just before the sample's data goes into the file (MovSampleNotes): the
// file holds no durations until its movie is written, and a movie cut short
// by a crash is finished from them at the next start (MovRepair).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/Cinelink.h"
#include "writers/MovieWriter.h"
#include "writers/QtRuntimeThread.h"

namespace framory {

class ClipJournal;
class WriterReports;

class QtMovieWriter : public MovieWriter {
 public:
  enum State : std::int32_t { kClosed = 0, kPrepared = 1, kEditing = 2 };

  // Initialises QuickTime (on the writer's runtime thread, waiting for it);
  // when it cannot be, reports it (the user is sent to download QuickTime)
  // and the writer exists with every later call failing. The screen size
  // widens the compression buffer so that it is sized once per clip.
  QtMovieWriter(WriterReports& reports, std::string path, std::int32_t screenWidth,
                std::int32_t screenHeight);
  ~QtMovieWriter() override;

  // Samples last `milliseconds` (at least 1) at a time scale of 1000.
  void SetFramePeriod(std::int32_t milliseconds);
  // Notes every sample's duration in the open record of `journal`
  // (MovSampleNotes), so that the movie can be finished after a crash.
  void SetJournal(ClipJournal* journal) { journal_ = journal; }

  // Creates the movie file, its track and media for frames of `frame`'s
  // size; every frame added must have that size.
  std::int32_t Prepare(const MovieFrame& frame) override;
  // Compresses a copy of the frame's present contents as the next sample.
  std::int32_t AddFrame(const MovieFrame& frame) override;
  // The sample held for the media lasts one frame period longer.
  std::int32_t RepeatFrame(const MovieFrame& frame) override;
  // Frames and repeats placed by the clock: the held sample also lasts over
  // the positions skipped before `position`.
  std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t position) override;
  std::int32_t RepeatFrameAt(const MovieFrame& frame, std::int32_t position) override;
  // Finishes the movie if frames were added, releases everything, ends
  // QuickTime for this writer and its runtime thread. Safe to call again.
  void Close() override;
  // Below 0 when the last Close could not finish the movie whole: the last
  // frame was not compressed, the held sample not added or the movie not
  // written into the file.
  std::int32_t CloseResult() const override { return closeResult_; }

  std::int32_t State() const { return state_; }
  const char* LastError() const { return lastError_; }
  TimeScale TimeScaleValue() const { return timeScale_; }
  TimeValue FrameDuration() const { return frameDuration_; }

 private:
  // On the caller's thread.
  std::int32_t AddPreparedFrame(const MovieFrame& frame);
  // Lengthens the held sample over the positions before `position` that no
  // frame or repeat took.
  void HoldUntil(std::int32_t position);

  // On the runtime thread.
  std::int32_t Fail(const char* text);
  std::int32_t PrepareMovie(const MovieFrame& frame);
  std::int32_t StartEditing();
  // Adds the compressed sample to the media with `duration`; false on
  // failure, with the system's reason (0: none) in `reason`.
  bool AddHeldSample(TimeValue duration, std::uint32_t* reason);
  void CompressFrame();
  // Appends `note` to the clip's journal record, when there is one.
  void Note(const std::string& note);
  // Ends the media edits and writes the movie into the file after adding
  // the held sample; true when something could not be finished.
  bool FinishMovie(TimeValue duration, bool lost, std::uint32_t* reason);
  void CleanUp();

  WriterReports& reports_;
  std::string path_;
  std::int32_t screenWidth_;
  std::int32_t screenHeight_;
  bool quickTimeOpen_ = true;  // until Close() has ended QuickTime
  TimeScale timeScale_ = 600;
  TimeValue frameDuration_ = 60;
  std::int32_t closeResult_ = kWriterOk;
  // Duration of the compressed sample not yet added to the media; 0: none.
  TimeValue heldDuration_ = 0;
  std::int32_t nextPosition_ = 0;  // frame periods taken by frames and repeats so far

  // Noted in on the runtime thread, as samples are added; null: none.
  ClipJournal* journal_ = nullptr;

  // Set on the runtime thread; the caller reads them only after waiting for
  // that thread.
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
  QtBitmap bitmap_ = {};
  // The copy of the frame the graphics world wraps. The caller fills it
  // only while the runtime thread is idle.
  std::vector<std::uint32_t> pixels_;
  // The last frame handed over could not be compressed; set on the runtime
  // thread, taken by the caller's next AddFrame or Close.
  bool compressFailed_ = false;

  // Last, so that its thread has ended before anything it uses goes.
  QtRuntimeThread runtime_;
};

}  // namespace framory
