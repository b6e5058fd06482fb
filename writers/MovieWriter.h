// The contract of the movie file writers (AVI, WMV, QuickTime): one writer
// per clip, made by the clip session when the clip starts, given every frame
// of the clip, and destroyed when the clip ends. Destroying a writer closes
// it, and closing finishes the file.
#pragma once

#include <cstdint>

namespace framory {

class MovieFrame;

// 32-bit status results of the writers: 0 is success, anything below 0 a
// failure.
inline constexpr std::int32_t kWriterOk = 0;
inline constexpr std::int32_t kWriterFail = static_cast<std::int32_t>(0x80004005);  // E_FAIL
// A failure the writer tells the user of itself (E_ABORT): the clip session
// pauses the recorder, has the writer report it (ReportFailure), and ends the
// clip without a box of its own.
inline constexpr std::int32_t kWriterFailReported = static_cast<std::int32_t>(0x80004004);
// RepeatFrame's answer when the writer cannot store a repeat (S_FALSE): the
// caller composes and adds the frame in full instead.
inline constexpr std::int32_t kWriterRepeatUnsupported = 1;

class MovieWriter {
 public:
  virtual ~MovieWriter() = default;

  // Right after the writer is made: below 0 when making it failed (a
  // missing component, a file name the library does not take), so that
  // every frame will be refused. The clip then records nothing beside it.
  virtual std::int32_t StartResult() const { return kWriterOk; }
  // Called once, right after the writer is made, with the clip's frame
  // buffer. A writer that works on the buffer itself (QuickTime) sets itself
  // up here; the others open their file lazily with the first frame and have
  // nothing to do. Below 0: the writer cannot be used.
  virtual std::int32_t Prepare(const MovieFrame& /*frame*/) { return kWriterOk; }
  // Appends the buffer's present contents as the next frame.
  virtual std::int32_t AddFrame(const MovieFrame& frame) = 0;
  // Writes the buffer's contents at frame position `position` (in frame
  // periods from the start of the movie), which lies after every position
  // written before; the positions skipped hold the previous picture. A writer
  // that cannot place frames appends.
  virtual std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t /*position*/) {
    return AddFrame(frame);
  }
  // Appends a frame that shows the same picture as the previous one, without
  // the pixels being composed or encoded again. Only called after at least
  // one AddFrame of the clip; `frame` still holds that picture and stays
  // valid until the next AddFrame or Close, for a writer that must store it
  // once more at the end of the clip.
  virtual std::int32_t RepeatFrame(const MovieFrame& /*frame*/) { return kWriterRepeatUnsupported; }
  // A repeat at frame position `position` (see AddFrameAt). A writer that
  // cannot place frames repeats at the next position.
  virtual std::int32_t RepeatFrameAt(const MovieFrame& frame, std::int32_t /*position*/) {
    return RepeatFrame(frame);
  }
  // After an answer of kWriterFailReported, with the recorder paused: tells
  // the user of the failure through the writer's reports.
  virtual void ReportFailure() {}
  // The clip's clock, for a writer that records sound beside the pictures:
  // the steady clock's time (nanoseconds) of the clip's first shot, and of
  // each pause and resume of the recorder while the clip is open. Sound
  // heard during a pause is left out, as the pictures are.
  virtual void ClipClockStarted(std::int64_t /*ns*/) {}
  virtual void ClipPaused(std::int64_t /*ns*/) {}
  virtual void ClipResumed(std::int64_t /*ns*/) {}
  // Finishes the file and frees what the writer holds. Safe to call again.
  virtual void Close() = 0;
  // After Close: below 0 when frames accepted by AddFrame were lost after it
  // returned (a writer that writes on a thread of its own learns of them
  // late) or the file could not be finished.
  virtual std::int32_t CloseResult() const { return kWriterOk; }
};

}  // namespace framory
