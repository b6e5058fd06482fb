// What the tray tip tells while recording: how long the recording has run,
// paused time left out, and how many bytes its files hold so far. A
// recording begins with the first resume after the previous clip ended (or at
// start-up) and ends with the clip; a picture series counts every picture
// taken since then.
//
// The meter learns every result file from the output naming. It reads their
// sizes from the file system when the tip is refreshed (once a second while
// active): a clip's files grow as its writer works beside the event loop, a
// picture is complete once written and is then counted once and forgotten.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/MonotonicClock.h"

namespace framory {

class RecordingMeter {
 public:
  explicit RecordingMeter(const MonotonicClock& clock) : clock_(clock) {}

  void Resumed();
  void Paused();
  // A result file was named: a picture (complete once written) or one of a
  // clip's files (growing until the clip ends).
  void FileNamed(const std::string& path, bool picture);
  // The clip ended: the next resume begins a new recording.
  void Reset();

  // Active time of this recording in milliseconds.
  std::int64_t ElapsedMilliseconds() const;
  // Bytes of this recording's files now on disk.
  std::int64_t BytesWritten();
  // `base` followed by the elapsed time and the size, as "H:MM:SS" and
  // "N KiB" / "N.N MiB" / "N.NN GiB"; never longer than `maxLength`.
  std::string Tip(const std::string& base, std::size_t maxLength);

  static std::string FormatElapsed(std::int64_t milliseconds);
  static std::string FormatSize(std::int64_t bytes);

 private:
  const MonotonicClock& clock_;
  bool running_ = false;
  std::int64_t startedAt_ = 0;      // nanoseconds, while running
  std::int64_t elapsedBefore_ = 0;  // nanoseconds of earlier active stretches
  std::int64_t finishedBytes_ = 0;  // pictures already counted
  std::vector<std::string> clipFiles_;
  std::vector<std::string> pictures_;
};

}  // namespace framory
