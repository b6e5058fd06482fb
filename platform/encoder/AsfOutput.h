// The ASF file or live stream one encoding writes, through libavformat's
// `asf` muxer. Streams are added from the opened encoders, then the output
// is opened either on a file or on a live sink (the broadcast), which gets
// the header bytes once and then the fixed-size data packets one by one.
// Writing is thread-safe: the video and the sound threads share one output.
//
// A file gets every data packet as soon as the muxer has made it, so that a
// crash loses no more than the packet being filled, and disk room for each
// encoded packet and for closing the file is reserved before it is written:
// a full disk stops the file before a packet, and its closing still fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/media/DiskRoom.h"
#include "platform/media/FfmpegHandles.h"
#include "writers/MediaEncoderApi.h"

// The interface takes the encoders' contexts and packets.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace framory {

// Size of every ASF data packet the muxer writes.
inline constexpr int kAsfPacketSize = 3200;

class AsfLiveSink {
 public:
  virtual ~AsfLiveSink() = default;
  // Everything the muxer writes before the first data packet.
  virtual void OnHeader(const std::uint8_t* data, std::size_t size) = 0;
  // One data packet of kAsfPacketSize bytes.
  virtual void OnPacket(const std::uint8_t* data, std::size_t size) = 0;
};

class AsfOutput {
 public:
  AsfOutput();
  ~AsfOutput();
  AsfOutput(const AsfOutput&) = delete;
  AsfOutput& operator=(const AsfOutput&) = delete;

  // Adds a stream for the opened encoder `codec`; its index, -1 on failure.
  int AddStream(const AVCodecContext* codec);
  // The ASF stream number (1-based) of the stream at `index`.
  static int StreamNumber(int index) { return index + 1; }

  HResult OpenFile(const std::string& path, std::string* failure);
  HResult OpenLive(AsfLiveSink* sink, std::string* failure);
  // Writes one encoded packet of stream `index` whose times are in
  // `timeBase`. False when the output failed (it then takes nothing more).
  bool Write(AVPacket* packet, int index, AVRational timeBase);
  // Writes the trailer and closes. Safe to call again.
  void Finish();
  bool Failed() const;
  // The system's error number of a failed file output (ENOSPC for a full
  // disk), 0 when it has none.
  std::uint32_t FailureError() const;

 private:
  static int WriteLive(void* opaque, std::uint8_t* data, int size);
  void TakeLiveBytes(const std::uint8_t* data, std::size_t size);
  HResult WriteHeader(std::string* failure);

  mutable std::mutex mutex_;
  // The live I/O outlives the context that writes through it.
  IoHandle liveIo_;
  OutputHandle context_;
  AsfLiveSink* sink_ = nullptr;
  std::vector<std::uint8_t> pending_;  // live bytes not yet a whole packet
  // The file output's room on the disk (see DiskRoom).
  DiskRoom room_;
  std::uint32_t failureError_ = 0;
  bool headerSent_ = false;
  bool open_ = false;
  bool failed_ = false;
  bool finished_ = false;
};

}  // namespace framory
