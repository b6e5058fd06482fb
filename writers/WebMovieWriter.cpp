#include "writers/WebMovieWriter.h"

#include "base/LastError.h"
#include "base/MonotonicClock.h"
#include "base/MovieFrame.h"
#include "writers/WriterReports.h"

namespace framory {

WebMovieWriter::WebMovieWriter(WebMovieLibrary& library, WriterReports& reports, WebMovieKind kind,
                               std::string path)
    : library_(library), reports_(reports), kind_(kind), path_(std::move(path)) {}

WebMovieWriter::~WebMovieWriter() { Close(); }

void WebMovieWriter::ClipClockStarted(std::int64_t ns) {
  if (state_ == State::Closed || clockStarted_) return;
  clockStarted_ = true;
  clock_.Start(ns);
  if (soundSource_ == nullptr) return;
  StartSound();
  withSound_ = sound_ != nullptr;
}

void WebMovieWriter::ClipPaused(std::int64_t ns) {
  if (!clockStarted_ || clock_.IsPaused()) return;
  clock_.Paused(ns);
  // What was heard up to the pause goes with the next picture; reading stops
  // until the resume, so a long pause piles nothing up.
  std::vector<PlacedSound> before = TakeSound();
  for (PlacedSound& part : before) heldSound_.push_back(std::move(part));
  StopSound();
}

void WebMovieWriter::ClipResumed(std::int64_t ns) {
  if (!clockStarted_ || !clock_.IsPaused()) return;
  clock_.Resumed(ns);
  CheckSound();
  if (withSound_ && !soundFailed_ && state_ != State::Closed) StartSound();
}

void WebMovieWriter::StartSound() {
  std::string failure;
  sound_ = soundSource_->Open(soundChoice_);
  if (sound_ == nullptr) {
    failure = "The sound source could not be opened.";
  } else if (!sound_->Start(&failure)) {
    sound_.reset();
    if (failure.empty()) failure = "The sound server refused to record.";
  }
  if (sound_ == nullptr) SoundFailed(failure);
}

void WebMovieWriter::CheckSound() {
  std::string failure;
  if (sound_ == nullptr || !sound_->StartFailed(&failure)) return;
  sound_.reset();
  SoundFailed(failure);
}

void WebMovieWriter::SoundFailed(const std::string& failure) {
  if (soundFailed_) return;
  soundFailed_ = true;
  reports_.ReportDetail(WriterFailure::ClipSoundMissing, failure);
}

void WebMovieWriter::StopSound() {
  if (sound_ == nullptr) return;
  sound_->Stop();
  sound_.reset();
}

std::vector<PlacedSound> WebMovieWriter::TakeSound() {
  std::vector<PlacedSound> placed = std::move(heldSound_);
  heldSound_.clear();
  CheckSound();
  if (sound_ == nullptr) return placed;
  for (const SoundChunk& chunk : sound_->TakeChunks()) {
    for (PlacedSound& part : clock_.Place(chunk)) placed.push_back(std::move(part));
  }
  return placed;
}

std::int32_t WebMovieWriter::Open(const MovieFrame& frame) {
  auto fail = [this] {
    const std::uint32_t code = GetLastError();
    Close();
    reports_.Report(WriterFailure::AviRender);
    SetLastError(code);
    return kWriterFail;
  };
  if (!frame.Exists() || path_.empty()) return fail();
  // A clip whose clock was not started (no timer) starts it now.
  if (!clockStarted_) ClipClockStarted(SteadyClock().NowNanoseconds());
  WebMovieSetup setup;
  setup.Kind = kind_;
  setup.Path = path_;
  setup.Width = frame.Width();
  setup.Height = frame.Height();
  setup.PeriodMs = periodMs_;
  setup.Sound = withSound_;
  std::string failure;
  if (library_.Open(setup, &file_, &failure) < 0 || file_ == nullptr) return fail();
  state_ = State::Writing;
  return kWriterOk;
}

std::int32_t WebMovieWriter::AddFrame(const MovieFrame& frame) {
  return AddFrameAt(frame, nextPosition_);
}

std::int32_t WebMovieWriter::AddFrameAt(const MovieFrame& frame, std::int32_t position) {
  if (state_ == State::Ready && Open(frame) < 0) return kWriterFail;
  if (state_ != State::Writing) return kWriterFail;
  // A position already passed is taken as the next one.
  if (position < nextPosition_) position = nextPosition_;
  nextPosition_ = position + 1;
  lastRepeat_ = -1;
  const std::int32_t result = file_->PutPicture(frame, TimeOf(position), TakeSound());
  return result < 0 ? kWriterFail : kWriterOk;
}

std::int32_t WebMovieWriter::RepeatFrame(const MovieFrame& frame) {
  return RepeatFrameAt(frame, nextPosition_);
}

std::int32_t WebMovieWriter::RepeatFrameAt(const MovieFrame& /*frame*/, std::int32_t position) {
  if (state_ != State::Writing) return kWriterRepeatUnsupported;
  if (position < nextPosition_) position = nextPosition_;
  nextPosition_ = position + 1;
  lastRepeat_ = position;
  const std::int32_t result = file_->PutRepeat(TimeOf(position), false, TakeSound());
  return result < 0 ? kWriterFail : kWriterOk;
}

void WebMovieWriter::Close() {
  if (state_ == State::Closed) return;
  const bool writing = state_ == State::Writing;
  state_ = State::Closed;
  CheckSound();
  if (sound_ != nullptr) sound_->Stop();
  if (writing) {
    std::vector<PlacedSound> last = TakeSound();
    bool lost = false;
    // The picture held over the last repeats is written at the last one's
    // slot, so the clip lasts to its end in every player; sound read since
    // the last picture goes with it (or, without repeats, with a repeat that
    // writes no picture).
    if (lastRepeat_ >= 0) {
      lost = file_->PutRepeat(TimeOf(lastRepeat_), true, std::move(last)) < 0;
    } else if (!last.empty()) {
      lost = file_->PutRepeat(TimeOf(nextPosition_ - 1), false, std::move(last)) < 0;
    }
    if (file_->Finish() < 0) lost = true;
    closeResult_ = lost ? kWriterFail : kWriterOk;
  }
  sound_.reset();
  heldSound_.clear();
  file_.reset();
}

}  // namespace framory
