// The file library of the MP4 and WebM clips: a movie file opened for one
// clip, into which pictures and sound go with their times on the clip's
// clock, and which encodes and writes them on a worker thread of its own.
// The writer (WebMovieWriter) talks only to this; the implementation over
// FFmpeg lives in platform/media and is made by CreateWebMovieLibrary().
//
// Files are written so that a clip cut off at any moment (a crash, kill -9,
// a power loss) plays up to its last finished part: an MP4 in fragments, a
// WebM in clusters, each written through to the file when finished, with a
// key frame (and so a new part) at most MaxKeyFrameGapMs after the last.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace framory {

class MovieFrame;

enum class WebMovieKind : std::int32_t {
  Mp4,   // H.264 High 4:2:0 with AAC sound
  WebM,  // VP9 with Opus sound
};

struct WebMovieSetup {
  WebMovieKind Kind = WebMovieKind::Mp4;
  std::string Path;
  std::int32_t Width = 0;   // even
  std::int32_t Height = 0;  // even
  // The capture period in milliseconds (the encoder's speed is chosen by it).
  std::int32_t PeriodMs = 100;
  bool Sound = false;
  std::int64_t MaxKeyFrameGapMs = 2000;
};

// Sound placed on the clip's clock: interleaved stereo float at 48 kHz, its
// first sample at sample index FirstSample from the clip's start.
struct PlacedSound {
  std::int64_t FirstSample = 0;
  std::vector<float> Samples;
};

class WebMovieFile {
 public:
  // Finishes the file when Finish was not called.
  virtual ~WebMovieFile() = default;
  // Queues a copy of `frame`'s pixels, shown from `timeMs` on, and the
  // sound read since the last call. Times increase from call to call. Below
  // 0 for a failure the worker met (the call then queues nothing, and every
  // later call fails too), with the thread's last error set to the
  // system's error number (a full disk, a file-size limit, the file
  // deleted).
  virtual std::int32_t PutPicture(const MovieFrame& frame, std::int64_t timeMs,
                                  std::vector<PlacedSound> sound) = 0;
  // The picture did not change at `timeMs`: nothing is written unless a key
  // frame is due, in which case the last picture is encoded again there.
  // With `always`, it is written there in any case (the clip's last slot).
  virtual std::int32_t PutRepeat(std::int64_t timeMs, bool always,
                                 std::vector<PlacedSound> sound) = 0;
  // Writes what is queued and what the encoders hold, then the end of the
  // file (its index); a failure met on the way. Later calls return it again.
  virtual std::int32_t Finish() = 0;
};

class WebMovieLibrary {
 public:
  virtual ~WebMovieLibrary() = default;
  // Creates the file and starts its worker. Below 0 with the last error set
  // and the reason in `failure` when it cannot.
  virtual std::int32_t Open(const WebMovieSetup& setup, std::unique_ptr<WebMovieFile>* file,
                            std::string* failure) = 0;
};

// The library over FFmpeg (platform/media; link framory_media).
std::unique_ptr<WebMovieLibrary> CreateWebMovieLibrary();

}  // namespace framory
