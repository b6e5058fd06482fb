// Writes one MP4 (H.264 + AAC) or WebM (VP9 + Opus) clip through the web
// movie library, with the clip's sound in the same file.
//
// Pictures are stamped at their slot times (position × frame period on the
// clip's clock), so the file has a variable frame rate: a repeat writes no
// new picture, and when the clip ends on repeats the last picture is written
// once more at the last repeat's slot, so the clip keeps its length. On a
// still screen the library writes the picture again as a key frame when one
// is due, so a cut file loses at most that stretch.
//
// The sound is opened when the clip's clock starts (its first shot), closed
// for each pause and opened again at the resume; what it read is placed on
// the clip's clock (ClipSoundClock) and queued with the next picture or
// repeat. Sound that cannot be started is reported once, and the clip goes
// on without it. The sound may start in the background (the sound server's
// sound does, see BackgroundClipSound), so no call here waits for the
// server; its failure is then found and reported at the next picture. Its
// stamps place it on the clip's clock however late it starts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "writers/ClipSound.h"
#include "writers/ClipSoundClock.h"
#include "writers/MovieWriter.h"
#include "writers/WebMovieApi.h"

namespace framory {

class WriterReports;

class WebMovieWriter : public MovieWriter {
 public:
  WebMovieWriter(WebMovieLibrary& library, WriterReports& reports, WebMovieKind kind,
                 std::string path);
  ~WebMovieWriter() override;

  // Frame period in milliseconds; 0 or less leaves one frame a second.
  void SetFramePeriod(std::int32_t milliseconds) {
    periodMs_ = milliseconds > 0 ? milliseconds : 1000;
  }
  // Where the clip's sound comes from; a null source records none.
  void SetSound(ClipSoundSource* source, SoundSourceChoice choice) {
    soundSource_ = source;
    soundChoice_ = choice;
  }

  void ClipClockStarted(std::int64_t ns) override;
  void ClipPaused(std::int64_t ns) override;
  void ClipResumed(std::int64_t ns) override;

  std::int32_t AddFrame(const MovieFrame& frame) override;
  std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t position) override;
  std::int32_t RepeatFrame(const MovieFrame& frame) override;
  std::int32_t RepeatFrameAt(const MovieFrame& frame, std::int32_t position) override;
  void Close() override;
  std::int32_t CloseResult() const override { return closeResult_; }

  bool RecordsSound() const { return sound_ != nullptr; }

 private:
  enum class State { Ready, Writing, Closed };

  std::int32_t Open(const MovieFrame& frame);
  // Opens and starts the sound; reports why when it cannot.
  void StartSound();
  // Drops a sound whose start failed in the background, and reports it.
  void CheckSound();
  // The clip goes on without sound; the first failure is reported.
  void SoundFailed(const std::string& failure);
  void StopSound();
  // The sound read since the last call, placed on the clip's clock.
  std::vector<PlacedSound> TakeSound();
  std::int64_t TimeOf(std::int32_t position) const { return std::int64_t{position} * periodMs_; }

  WebMovieLibrary& library_;
  WriterReports& reports_;
  WebMovieKind kind_;
  std::string path_;
  std::int32_t periodMs_ = 1000;
  ClipSoundSource* soundSource_ = nullptr;
  SoundSourceChoice soundChoice_ = SoundSourceChoice::Microphone;
  std::unique_ptr<ClipSound> sound_;
  // Sound taken at a pause, waiting for the next picture.
  std::vector<PlacedSound> heldSound_;
  ClipSoundClock clock_;
  bool clockStarted_ = false;
  // The clip asked for sound and its start did not fail at once: the file
  // gets a sound stream (silence where the sound failed later).
  bool withSound_ = false;
  // A start failed (and was reported): the clip stays without sound.
  bool soundFailed_ = false;
  std::unique_ptr<WebMovieFile> file_;
  State state_ = State::Ready;
  std::int32_t nextPosition_ = 0;  // the first position not taken yet
  // The clip's last slots were repeats, the last of them at this position.
  std::int32_t lastRepeat_ = -1;
  std::int32_t closeResult_ = kWriterOk;
};

}  // namespace framory
