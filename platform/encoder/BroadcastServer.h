// The live broadcast: an HTTP server on its own thread that serves the ASF
// stream of one encoding to any number of viewers at "/".
//
// Each viewer gets the header bytes the muxer wrote at the start, then data
// packets beginning with the latest packet in which a key frame of the video
// stream begins (kept as a backlog, so a viewer starts at once). Packets are
// shared between viewers; each viewer has its own queue, and one whose queue
// passes kMaxQueuedBytes (it stopped reading) is dropped, so a slow viewer
// never holds up the encoder or the others. The server answers nothing but
// GET or HEAD of "/": other paths and methods, malformed and oversized
// requests get a short HTTP error. It never reads a file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/encoder/AsfOutput.h"

namespace framory {

class BroadcastServer : public AsfLiveSink {
 public:
  static constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;
  static constexpr std::size_t kMaxRequestBytes = 8 * 1024;
  static constexpr std::size_t kMaxBacklogBytes = 16 * 1024 * 1024;

  BroadcastServer();
  ~BroadcastServer() override;
  BroadcastServer(const BroadcastServer&) = delete;
  BroadcastServer& operator=(const BroadcastServer&) = delete;

  // ASF stream number of the video (0 when there is none: every packet is a
  // starting point then).
  void SetVideoStreamNumber(int number) { videoStream_ = number; }
  // Binds TCP `port` on every IPv4 address (loopback included) and starts
  // the server thread. False with a reason when the port cannot be had.
  bool Listen(int port, std::string* failure);
  // The port listened on (the one the system chose when asked for 0).
  int Port() const { return port_; }
  void Stop();

  void OnHeader(const std::uint8_t* data, std::size_t size) override;
  void OnPacket(const std::uint8_t* data, std::size_t size) override;

  // Viewers being served the stream right now.
  std::size_t ViewerCount() const;

 private:
  using Chunk = std::shared_ptr<const std::vector<std::uint8_t>>;
  struct Viewer;

  void Run();
  void Accept();
  void ReadRequest(Viewer& viewer);
  void Answer(Viewer& viewer, const std::string& request);
  void Refuse(Viewer& viewer, const char* status);
  void SendQueued(Viewer& viewer);
  void Enqueue(Viewer& viewer, const Chunk& chunk);
  void Wake();

  int videoStream_ = 0;
  int listenFd_ = -1;
  int port_ = 0;
  int wakeFds_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  Chunk header_;
  std::deque<Chunk> backlog_;
  std::size_t backlogBytes_ = 0;
  bool backlogValid_ = false;
  std::vector<std::unique_ptr<Viewer>> viewers_;
};

}  // namespace framory
