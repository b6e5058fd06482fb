#include "capture/ClipSession.h"

#include <cerrno>
#include <cstdio>
#include <limits>

#include "base/LastError.h"
#include "writers/WriterTexts.h"

namespace framory {

namespace {

using ClipFailureNames::kBitmap;

// Movie sizes used when the size found is 0. The height falls back to 640
// and the width to 480; that pairing is how movies of this program have
// always come out, so it is kept.
constexpr std::int32_t kFallbackHeight = 640;
constexpr std::int32_t kFallbackWidth = 480;

// The largest movie side the encoders take (see SettingsLimits).
constexpr std::int32_t kMaxMovieSide = SettingsLimits::kMaxResizeSide;

// Rounds up to a multiple of 4; -1 when the result does not fit.
std::int32_t RoundUpTo4(std::int32_t value) {
  const std::int64_t rounded = (std::int64_t{value} + 3) & ~std::int64_t{3};
  return rounded > std::numeric_limits<std::int32_t>::max() ? -1
                                                            : static_cast<std::int32_t>(rounded);
}

// Marks the clip session busy with a frame for as long as it lives.
struct Delivering {
  bool& flag;
  explicit Delivering(bool& f) : flag(f) { flag = true; }
  ~Delivering() { flag = false; }
};

// One side of the movie: the size found, its fallback when that is 0,
// rounded up to a multiple of 4 (saturating, so that a huge size stays huge).
std::int32_t MovieSide(std::int32_t found, std::int32_t fallback) {
  const std::int32_t side = found == 0 ? fallback : found;
  const std::int32_t rounded = RoundUpTo4(side);
  return rounded < 0 && side > 0 ? std::numeric_limits<std::int32_t>::max() : rounded;
}

// The extension of a clip's video file, kept for the merged file: from the
// last "." of the file name (not of a folder), at most 10 characters.
std::string MergedExtension(const std::string& videoPath) {
  const std::size_t slash = videoPath.find_last_of('/');
  const std::size_t dot = videoPath.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return ".wmv";
  return videoPath.substr(dot, 10);
}

}  // namespace

ClipSession::ClipSession(const Settings& settings, OutputNaming& naming,
                         MovieWriterFactory& writers, ClipHost& host, const MonotonicClock* clock)
    : settings_(settings),
      naming_(naming),
      writers_(writers),
      host_(host),
      clock_(clock != nullptr ? *clock : steadyClock_),
      timeline_(clock_),
      merges_(writers, writers.Reports()) {
  merges_.SetOnMerged([this](const std::string& merged) { host_.FileSaved(merged); });
}

ClipSession::~ClipSession() { DestroyWriters(false); }

void ClipSession::DeliverMovieFrame(const Frame* frame, WindowHandle /*source*/,
                                    const Rect& screenRect) {
  // A writer's message box runs a nested event loop in which the capture
  // timer keeps firing. A shot taken there would reach the clip while its
  // writer is still inside the call that showed the box (and could end the
  // clip under it); such a shot is dropped.
  if (delivering_) return;
  const Delivering delivering(delivering_);

  const std::int32_t type = settings_.OutputType();
  // Pictures, and a type without a row, make no clip.
  const OutputFormat* format = FindOutputFormat(type);
  if (format == nullptr || format->Family == OutputFamily::Pictures) return;

  // A new output type ends the clip; the new clip starts with this shot.
  if (clipStarted_ && type != lastClipOutputType_) EndClip();
  lastClipOutputType_ = type;

  if (!movieFrame_.Exists() && frame != nullptr && !IsEncoderOutputType(type)) {
    const std::int32_t width = MovieSide(
        settings_.ResizeFGWindow() ? settings_.ResizeFGWindowX() : frame->Width, kFallbackWidth);
    const std::int32_t height = MovieSide(
        settings_.ResizeFGWindow() ? settings_.ResizeFGWindowY() : frame->Height, kFallbackHeight);
    if (width > kMaxMovieSide || height > kMaxMovieSide) {
      // No encoder takes such a frame (and no player would open it): the
      // clip is refused rather than written.
      char text[200];
      std::snprintf(text, sizeof text, ClipFailureNames::kOversizedFrame, width, height,
                    kMaxMovieSide, kMaxMovieSide, kBitmap);
      SetLastError(EFBIG);
      host_.ReportApiFailure(text);
      clipStarted_ = false;
      return;
    }
    if (!movieFrame_.Create(width, height)) {
      host_.ReportApiFailure(kBitmap);
      clipStarted_ = false;
      return;
    }
    host_.RefreshMainDialogTitle();
  }

  if (!clipStarted_ && !StartClip(*format, screenRect)) return;

  if (encoder_ && !writer_) {
    if (EncoderFileFailed()) return;
    encoder_->SetCaptureRect(screenRect);
    return;
  }
  // A file writer without a frame to read (a shot that brought no pixels)
  // has nothing to append.
  if (frame == nullptr || !movieFrame_.Exists()) return;
  // A writer that may read the grabbed pixels in place gets them when they
  // already are the movie frame; the loan ends before the frame goes back
  // to the grabber.
  const bool lent = format->LendsGrabbedFrame && movieFrame_.Lend(*frame);
  if (!lent) movieFrame_.Compose(*frame);
  AppendFrame();
  movieFrame_.EndLoan();
}

bool ClipSession::StartClip(const OutputFormat& format, const Rect& screenRect) {
  clipStarted_ = true;
  if (!writers_.Supports(format.Code)) {
    clipStarted_ = false;
    return false;
  }
  const std::int32_t period = settings_.TimerValue();
  std::string path;
  if (IsEncoderOutputType(format.Code)) {
    if (format.Extension != nullptr) {
      path = naming_.MovieFileName(format.Extension);
      // No name left: an encoder configured without a file would broadcast.
      if (!path.empty()) {
        JournalEncoderFile(format, path);
        encoder_ = StartEncoder(screenRect, path, false);
      }
    } else {
      encoder_ = StartEncoder(screenRect, std::string(), true);
    }
  } else {
    // A writer that makes no file (the broadcast to a streaming server) is
    // given the server's address in place of a file name; it is not a
    // result file, and is never shown.
    const bool toFile = format.Extension != nullptr;
    path = toFile ? naming_.MovieFileName(format.Extension) : settings_.StreamServerAddress();
    writers_.SetSoundChoice(settings_.RecordSound(), settings_.SoundSource());
    writer_ = writers_.CreateFileWriter(format.Code, path, period);
    if (!toFile) path.clear();
    appendFailure_ = format.AppendFailure != nullptr ? format.AppendFailure : "";
    if (writer_ && format.PrepareFailure != nullptr && writer_->Prepare(movieFrame_) < 0) {
      host_.ReportApiFailure(format.PrepareFailure);
      writer_->Close();
      writer_.reset();
      clipStarted_ = false;
      return false;
    }
  }
  if (encoder_ && encoderFailed_) {
    // The encoder told the user why it cannot run; nothing is recorded, so
    // the recorder must not look active. The next resume tries again.
    encoder_.reset();
    encoderJournal_.reset();
    clipStarted_ = false;
    PauseAfterEncoderFailure();
    return false;
  }
  if (!writer_ && !encoder_) {
    clipStarted_ = false;
    return false;
  }
  clipFile_ = path;
  // The clip's clock starts with its first shot, at the writer's frame period.
  if (writer_ && settings_.TakeShotOnTimer() && period > 0) timeline_.Start(period);
  // A writer that records sound beside the pictures starts it now, on the
  // clip's clock.
  if (writer_) writer_->ClipClockStarted(clock_.NowNanoseconds());

  // A writer that failed while being made refuses every frame: sound
  // recorded beside it would have no pictures to join.
  if (settings_.RecordSound() && !encoder_ && format.MergesSoundTrack && writer_ &&
      writer_->StartResult() >= 0) {
    StartSoundTrack(path);
  }
  return true;
}

std::unique_ptr<ScreenEncoder> ClipSession::StartEncoder(const Rect& screenRect,
                                                         const std::string& path, bool broadcast) {
  std::unique_ptr<ScreenEncoder> encoder = writers_.CreateEncoderSession();
  if (!encoder) return nullptr;
  encoder->SetCaptureRect(screenRect);
  if (settings_.TimerValue() > 0) encoder->SetFramesPerSecond(1000.0 / settings_.TimerValue());
  encoder->SetRecordAudio(settings_.RecordSound());
  if (broadcast) encoder->SetBroadcast(true);
  // The session reports its own configuration and start failures.
  encoderFailed_ = encoder->Configure(path) < 0;
  encoder->StartEncoding();
  return encoder;
}

// The sound of a WMV clip is recorded by an encoder session into a file of
// its own while the WMV writer writes the pictures; EndClip merges the two.
void ClipSession::StartSoundTrack(const std::string& videoPath) {
  std::unique_ptr<ScreenEncoder> sound = writers_.CreateEncoderSession();
  if (!sound) return;
  std::string audioPath = naming_.MovieFileName(".wmv");
  if (audioPath.empty()) return;
  pendingVideoFile_ = videoPath;
  pendingAudioFile_ = std::move(audioPath);
  if (const OutputFormat* format = FindOutputFormat(lastClipOutputType_)) {
    JournalEncoderFile(*format, pendingAudioFile_);
  }
  sound->SetRecordAudio(true);
  sound->SetRecordVideo(false);
  const bool failed = sound->Configure(pendingAudioFile_) < 0;
  sound->StartEncoding();
  if (failed) {
    // Told why by the session; the clip goes on without sound, and the
    // recorder pauses so that the user sees that something is wrong.
    pendingVideoFile_.clear();
    pendingAudioFile_.clear();
    encoderJournal_.reset();
    PauseAfterEncoderFailure();
    return;
  }
  encoder_ = std::move(sound);
}

void ClipSession::JournalEncoderFile(const OutputFormat& format, const std::string& path) {
  ClipJournal* journal = writers_.Journal();
  if (!format.Journalled || journal == nullptr) return;
  // A journal of its own beside the file writer's (a WMV clip has both).
  encoderJournal_ = std::make_unique<ClipJournal>(journal->Folder());
  encoderJournal_->Begin(
      JournalledClipOf(format.Code, ClipKind::Asf, path, settings_.TimerValue()));
}

bool ClipSession::EncoderFileFailed() {
  std::uint32_t code = 0;
  if (clipFile_.empty() || !encoder_->FileWriteFailed(&code)) return false;
  // As a file writer's failed append: pause, finish the file with what it
  // holds (its room was reserved as it went), and say why; the next resume
  // starts the next clip. The screen encoder's files are WMV files, whose
  // failures go by the AVI family's name.
  host_.TogglePause();
  FinishClip(false);
  SetLastError(code);
  host_.ReportApiFailure(ClipFailureNames::kAviAppend);
  return true;
}

void ClipSession::PauseAfterEncoderFailure() {
  encoderFailed_ = false;
  if (!host_.Paused()) host_.TogglePause();
}

void ClipSession::AppendFrame() {
  if (!writer_) return;
  frameAdded_ = true;
  // A failure that names no reason of its own must not show an old one.
  SetLastError(0);
  const std::int32_t result = timeline_.Started()
                                  ? writer_->AddFrameAt(movieFrame_, timeline_.NextPosition())
                                  : writer_->AddFrame(movieFrame_);
  if (result >= 0) frameWritten_ = true;
  if (result == kWriterFailReported) {
    // The writer tells the user why (the server refused the broadcast),
    // with the recorder already paused.
    host_.TogglePause();
    writer_->ReportFailure();
    FinishClip(false);
    return;
  }
  if (result < 0) ReportAppendFailure();
}

bool ClipSession::RepeatMovieFrame() {
  // Inside a writer's own box (see DeliverMovieFrame) the shot is dropped.
  if (delivering_) return true;
  const Delivering delivering(delivering_);
  if (!clipStarted_ || !writer_ || !frameAdded_ || settings_.OutputType() != lastClipOutputType_) {
    return false;
  }
  const OutputFormat* format = FindOutputFormat(lastClipOutputType_);
  if (format == nullptr || !format->TakesRepeats) return false;
  SetLastError(0);
  // On a clip timed by the clock the repeat takes its place like a frame,
  // but only if the writer can store it; otherwise the shot comes again as
  // a whole frame.
  const std::int32_t position = timeline_.Started() ? timeline_.PeekPosition() : -1;
  const std::int32_t result = position >= 0 ? writer_->RepeatFrameAt(movieFrame_, position)
                                            : writer_->RepeatFrame(movieFrame_);
  if (result == kWriterRepeatUnsupported) return false;
  if (position >= 0) timeline_.Take(position);
  if (result < 0) ReportAppendFailure();
  return true;
}

void ClipSession::ReportAppendFailure() {
  // The writer's reason (a full disk, a file-size limit, a deleted file) is
  // read before anything else can overwrite it.
  const std::uint32_t code = GetLastError();
  const std::string failure = appendFailure_;
  host_.TogglePause();
  // A clip whose writer failed is finished at once with the frames it
  // holds (its writer reserved the room for the index as it went), so that
  // nothing after the failure can cut it off. The first frame after the
  // resume starts the next clip under the next number. Frames the writer
  // loses while closing belong to this same failure: one report.
  FinishClip(false);
  SetLastError(code);
  host_.ReportApiFailure(failure);
}

void ClipSession::DestroyWriters(bool report) {
  frameAdded_ = false;
  if (writer_) {
    writer_->Close();
    const bool lost = writer_->CloseResult() < 0;
    writer_.reset();
    // The last frames of a clip are written after their AddFrame returned;
    // losing them must not pass for success.
    if (lost && report) host_.ReportApiFailure(appendFailure_);
  }
  encoder_.reset();
  // The encoder's file is finished now.
  encoderJournal_.reset();
}

void ClipSession::PauseEncoding() {
  if (encoder_) encoder_->PauseEncoding();
}

void ClipSession::StartEncoding() {
  if (encoder_) encoder_->StartEncoding();
}

void ClipSession::RecorderPauseChanged(bool paused) {
  if (paused) {
    timeline_.Paused();
    if (writer_) writer_->ClipPaused(clock_.NowNanoseconds());
  } else {
    timeline_.Resumed();
    if (writer_) writer_->ClipResumed(clock_.NowNanoseconds());
  }
}

void ClipSession::FinishFiles() {
  // A merge already running is let finish (the display may be gone: no box).
  merges_.WaitForAll(false);
  movieFrame_.Release();
  clipStarted_ = false;
  timeline_.Reset();
  DestroyWriters(false);
}

void ClipSession::EndClip() { FinishClip(true); }

void ClipSession::FinishClip(bool reportLostFrames) {
  // The writers close first: a writer may still store the last picture of
  // the buffer (a repeated last frame) while it finishes its file.
  DestroyWriters(reportLostFrames);
  movieFrame_.Release();
  clipStarted_ = false;
  timeline_.Reset();

  // The file the clip left; a clip whose sound is joined to it is announced
  // once the merged file is written.
  std::string saved = std::move(clipFile_);
  clipFile_.clear();
  if (!pendingAudioFile_.empty() && !frameWritten_) {
    // The pictures never reached a file (the writer failed at its first
    // frame): there is nothing to join the sound with, and a sound file on
    // its own is not a clip.
    std::remove(pendingAudioFile_.c_str());
  } else if (!pendingVideoFile_.empty() && !pendingAudioFile_.empty()) {
    const std::string merged = naming_.MovieFileName(MergedExtension(pendingVideoFile_));
    // The merge runs beside the event loop; the source files go once it
    // has written the merged file.
    if (!merged.empty()) {
      merges_.Start(pendingVideoFile_, pendingAudioFile_, merged);
      saved.clear();
    }
  }
  pendingVideoFile_.clear();
  pendingAudioFile_.clear();
  frameWritten_ = false;

  host_.RefreshMainDialogTitle();
  host_.ClearMousePosSaved();
  host_.ClipEnded(saved);
}

}  // namespace framory
