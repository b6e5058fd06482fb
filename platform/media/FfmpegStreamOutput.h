// A connection to a streaming server over FFmpeg: RTMP carries H.264 + AAC
// in FLV, SRT carries them in MPEG-TS, both encoded and muxed by LiveEncoder.
//
// No call waits on the network for long: FFmpeg's network layers ask our
// interrupt callback while they wait, and it answers "stop" once a deadline
// has passed (connecting, a stalled send) or the writer interrupts; the
// name of the server is looked up on a thread of its own, which the caller
// stops waiting for in the same cases. The
// stream key is registered with the media log for as long as a connection
// is open, so no message of FFmpeg prints it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "writers/StreamOutput.h"

namespace framory {

class LiveEncoder;

class FfmpegStreamOutput : public StreamOutput {
 public:
  // Longest waits: for a connection to be set up, for one send.
  static constexpr std::int64_t kConnectTimeoutMs = 8000;
  static constexpr std::int64_t kSendTimeoutMs = 4000;
  // The socket's send buffer for RTMP, in bytes.
  static constexpr int kSendBufferBytes = 128 * 1024;

  FfmpegStreamOutput();
  ~FfmpegStreamOutput() override;

  ConnectOutcome Open(const StreamAddress& address, const StreamFormat& format,
                      std::int64_t startMs, std::string* answer) override;
  bool SendPicture(const std::uint32_t* top, std::ptrdiff_t stride, std::int64_t timeMs,
                   bool keyFrame) override;
  bool SendSound(const float* samples, std::size_t frames, std::int64_t firstSample) override;
  void Close() override;
  void Interrupt() override;

 private:
  // A look-up of the server's name, on a thread of its own that nobody
  // joins: the resolver cannot be interrupted, and may take its full time
  // (tens of seconds) with a name server that does not answer.
  struct Lookup;
  // Resolves `host`; false when the writer interrupted or the connection's
  // deadline passed first (the look-up then ends by itself).
  bool Resolve(const std::string& host, int* result);

  static int OnInterrupt(void* opaque);
  void SetDeadline(std::int64_t fromNowMs);

  std::unique_ptr<LiveEncoder> encoder_;
  std::vector<std::string> secrets_;
  std::int64_t startMs_ = 0;
  std::atomic<bool> interrupted_{false};
  std::atomic<std::int64_t> deadlineNs_{0};
  bool failed_ = false;
  std::mutex lookupLock_;
  std::shared_ptr<Lookup> lookup_;  // the one Open waits for
};

class FfmpegStreamOutputLibrary : public StreamOutputLibrary {
 public:
  std::unique_ptr<StreamOutput> MakeOutput() override;
};

}  // namespace framory
