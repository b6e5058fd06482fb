// One connection to a streaming server as the stream's writer sees it: open
// it, send pictures and sound stamped with the broadcast's time, close it.
// The media layer implements it over FFmpeg (H.264 + AAC in FLV for RTMP,
// MPEG-TS for SRT); tests put a stand-in in its place.
//
// Every call but Interrupt comes from the writer's sending thread, and may
// block on the network; Interrupt, from any thread, makes a blocked call
// return soon with a failure (the writer closes, or gives up on a stalled
// server).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "writers/StreamAddress.h"
#include "writers/StreamLink.h"

namespace framory {

struct StreamFormat {
  std::int32_t Width = 0;  // even
  std::int32_t Height = 0;
  std::int32_t FramesPerSecond = 10;
  bool Sound = false;  // 48 kHz stereo float, as ClipSound reads it
};

class StreamOutput {
 public:
  virtual ~StreamOutput() = default;
  // Connects and starts a stream whose time stamps begin at `startMs` (the
  // broadcast's time of the first picture to be sent), so that a stream
  // opened again after a loss or a pause continues the time of the one
  // before. On a failure `answer` says what the server (or the network)
  // answered, with the address masked.
  virtual ConnectOutcome Open(const StreamAddress& address, const StreamFormat& format,
                              std::int64_t startMs, std::string* answer) = 0;
  // A picture of format.Width × format.Height 32-bit pixels (0x00RRGGBB),
  // `stride` bytes from row to row, shown from `timeMs` on. False: the
  // connection is lost.
  virtual bool SendPicture(const std::uint32_t* top, std::ptrdiff_t stride, std::int64_t timeMs,
                           bool keyFrame) = 0;
  // Sound heard from broadcast sample `firstSample` on (48 kHz stereo,
  // interleaved). False: the connection is lost.
  virtual bool SendSound(const float* samples, std::size_t frames, std::int64_t firstSample) = 0;
  // Ends the stream; after Interrupt, without waiting on the server.
  virtual void Close() = 0;
  virtual void Interrupt() = 0;
};

// Makes the connections of a broadcast.
class StreamOutputLibrary {
 public:
  virtual ~StreamOutputLibrary() = default;
  virtual std::unique_ptr<StreamOutput> MakeOutput() = 0;
};

}  // namespace framory
