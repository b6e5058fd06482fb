// Outside checks for what the screen encoder writes and serves: stream lists,
// frame times and loudness read with ffprobe/ffmpeg, a private PulseAudio
// server with a test tone, and a raw HTTP client for the broadcast.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/ShellCommand.h"

namespace framory::testing {

// "codec_type:codec_name" of every stream, in file order.
std::vector<std::string> StreamList(const std::string& path);
// Presentation times of the decoded video frames, in seconds.
std::vector<double> VideoFrameTimes(const std::string& path);
// Duration of the first stream of `type` ("v" or "a") from its packets.
double StreamSeconds(const std::string& path, const std::string& type);
// ffmpeg volumedetect's mean volume of the audio in dB (-1000 when none).
double MeanVolumeDb(const std::string& path);

// A PulseAudio server of the test's own, in `folder`, with a null sink and a
// 440 Hz sine source as the default source. PULSE_SERVER and the runtime
// paths point at it while it runs; stopped (and the variables restored) on
// destruction.
class PulseServer {
 public:
  explicit PulseServer(const std::string& folder);
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;
  // Whether it answers (polled for a bounded time after start).
  bool Running() const { return running_; }

 private:
  pid_t pid_ = -1;
  bool running_ = false;
  std::vector<std::pair<std::string, std::string>> saved_;
};

// Points PULSE_SERVER somewhere nothing listens, so the client library can
// neither connect nor start a server of its own; restored on destruction.
class NoPulseServer {
 public:
  explicit NoPulseServer(const std::string& folder);
  ~NoPulseServer();

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

// Sends `request` to 127.0.0.1:`port` and returns what the server answers
// before closing (at most `limit` bytes, bounded in time).
std::string HttpExchange(int port, const std::string& request, std::size_t limit = 4096);

}  // namespace framory::testing
