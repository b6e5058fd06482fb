// The open movie clip: its frame buffer of fixed size, the one writer of the
// clip's format, the encoder session of the encoder outputs (or of a WMV
// clip's sound), and the steps that end a clip, including the merge of a
// separately recorded sound track into WMV clips (which runs beside the
// event loop, see SoundTrackMerge).
//
// What a clip's format means (extension, writer, repeats, lending, failure
// names) comes from its row in the table of output formats. The writers
// report failures the user must see; the WriterFailureBoxes given to the
// writer factory shows them.
//
// A clip starts with the first movie frame delivered after the previous one
// ended. Its first frame fixes the movie size (rounded up to multiples of 4);
// later frames are stretched down into it or centred on black; a frame that
// already has the movie's size and layout is lent as it is to a writer whose
// format allows it (the compressed AVI types).
//
// When the periodic timer drives the clip ("Capture periodically" on at its
// start), each frame is placed by the clock (ClipTimeline), so the movie
// lasts as long as the recording did whatever the machine's frame rate; with
// the timer off, every shot is the next frame.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/MonotonicClock.h"
#include "base/MovieFrame.h"
#include "base/Settings.h"
#include "capture/CaptureLinks.h"
#include "capture/ClipHost.h"
#include "capture/ClipTimeline.h"
#include "capture/EncoderControl.h"
#include "capture/OutputNaming.h"
#include "capture/SoundTrackMerge.h"
#include "capture/WaitCursor.h"
#include "writers/ClipJournal.h"
#include "writers/MovieWriter.h"
#include "writers/MovieWriterFactory.h"
#include "writers/OutputFormats.h"
#include "writers/ScreenEncoder.h"

namespace framory {

class ClipSession : public MovieFrameSink, public EncoderControl {
 public:
  // `clock` times clips driven by the periodic timer; null for the steady
  // system clock.
  ClipSession(const Settings& settings, OutputNaming& naming, MovieWriterFactory& writers,
              ClipHost& host, const MonotonicClock* clock = nullptr);
  // Closes whatever is still open (finishing its file) without telling the
  // host; the shell ends the clip properly before this.
  ~ClipSession() override;
  ClipSession(const ClipSession&) = delete;
  ClipSession& operator=(const ClipSession&) = delete;

  // One shot for a movie output type: `frame` for the file formats, null for
  // the encoder outputs (which get only the screen rectangle).
  void DeliverMovieFrame(const Frame* frame, WindowHandle source, const Rect& screenRect) override;
  bool RepeatMovieFrame() override;
  // Ends the open clip: frees the frame buffer, finishes the writers' files,
  // merges a pending sound track, refreshes the dialog title and clears the
  // saved mouse position.
  void EndClip();
  // Finishes the open clip's files and frees the frame buffer without
  // telling the host or merging a sound track: for the last-resort exit path,
  // when the dialogs and the display may be gone.
  void FinishFiles();

  bool ClipOpen() const override { return encoder_ != nullptr || movieFrame_.Exists(); }
  std::int32_t MovieWidth() const override { return movieFrame_.Width(); }
  std::int32_t MovieHeight() const override { return movieFrame_.Height(); }

  bool ClipStarted() const { return clipStarted_; }
  // The movie file of the open clip; empty when none is open or it makes no
  // file (a broadcast).
  const std::string& ClipFile() const { return clipFile_; }
  std::int32_t LastClipOutputType() const { return lastClipOutputType_; }
  const MovieFrame& Buffer() const { return movieFrame_; }
  // The cursor shown while a sound track is merged, and where the end of a
  // merge is posted (see SoundTrackMerge); null: none.
  void SetMergeServices(WaitCursor* cursor, MessagePoster* poster) {
    merges_.SetServices(cursor, poster);
  }
  // At SoundTrackMerged: finishes the merges that have ended.
  void SoundTrackMerged() { merges_.FinishEnded(); }
  // Waits for the running merges and finishes them (exit).
  void WaitForMerges() { merges_.WaitForAll(); }
  bool Merging() const { return merges_.Running(); }
  // The running encoder session; null when none.
  ScreenEncoder* EncoderSession() const { return encoder_.get(); }

  // The recorder pauses and resumes the encoder session through these.
  bool Exists() const override { return encoder_ != nullptr; }
  void PauseEncoding() override;
  void StartEncoding() override;
  void RecorderPauseChanged(bool paused) override;
  const std::string& PendingVideoFile() const { return pendingVideoFile_; }
  const std::string& PendingAudioFile() const { return pendingAudioFile_; }

 private:
  // Sets up the writer for `outputType`; false when the clip did not start.
  bool StartClip(const OutputFormat& format, const Rect& screenRect);
  std::unique_ptr<ScreenEncoder> StartEncoder(const Rect& screenRect, const std::string& path,
                                              bool broadcast);
  void StartSoundTrack(const std::string& videoPath);
  // Records the encoder's file in the clip journal while it is written, when
  // `format`'s clips are journalled.
  void JournalEncoderFile(const OutputFormat& format, const std::string& path);
  // The encoder's file could not be written (a full disk): ends the clip
  // with what it holds and reports it as a failed append. False when the
  // file is fine.
  bool EncoderFileFailed();
  // An encoder session could not be configured (it showed why): pause.
  void PauseAfterEncoderFailure();
  void AppendFrame();
  void ReportAppendFailure();
  // Closes and frees the writers; with `report`, a file writer whose close
  // says frames were lost reports it like a failed append.
  void DestroyWriters(bool report);
  // Ends the clip; with `reportLostFrames`, losses found while closing are
  // reported (not when the clip ends because of a failure already reported).
  void FinishClip(bool reportLostFrames);

  const Settings& settings_;
  OutputNaming& naming_;
  MovieWriterFactory& writers_;
  ClipHost& host_;
  SteadyClock steadyClock_;
  const MonotonicClock& clock_;
  ClipTimeline timeline_;

  bool clipStarted_ = false;
  std::int32_t lastClipOutputType_ = -1;
  MovieFrame movieFrame_;
  // The file writer of an AVI, QuickTime or WMV clip, and the text its
  // append failure is reported with.
  std::unique_ptr<MovieWriter> writer_;
  const char* appendFailure_ = "";
  // The writer has been given a frame of this clip.
  bool frameAdded_ = false;
  // The writer took a frame of this clip: its file has pictures.
  bool frameWritten_ = false;
  std::unique_ptr<ScreenEncoder> encoder_;
  // The movie file of the open clip (none for a broadcast).
  std::string clipFile_;
  std::string pendingVideoFile_;
  std::string pendingAudioFile_;
  // The last encoder session started could not be configured.
  bool encoderFailed_ = false;
  // The record of the encoder's file (the screen encoder's clip, a WMV
  // clip's sound) while it is written.
  std::unique_ptr<ClipJournal> encoderJournal_;
  // Declared last: destroyed first, waiting for a running merge.
  SoundTrackMerge merges_;
  // Inside DeliverMovieFrame (see there).
  bool delivering_ = false;
};

}  // namespace framory
