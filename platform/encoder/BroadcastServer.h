// The live broadcast: an HTTP server on its own thread that serves the ASF
// stream of one encoding to any number of viewers at "/", on IPv6 and IPv4.
//
// Each viewer gets the header bytes the muxer wrote at the start, then data
// packets beginning with the latest packet in which a key frame of the video
// stream begins (kept as a backlog, so a viewer starts at once). Packets are
// shared between viewers; each viewer has its own queue, and one whose queue
// passes kMaxQueuedBytes (it stopped reading) is dropped, so a slow viewer
// never holds up the encoder or the others. The backlog is kept only while it
// fits in half a viewer's queue: past that (a busy screen, a long key-frame
// interval) a new viewer starts at the next key frame instead, so joining can
// never overflow its queue, and the other half takes what the encoder adds
// while the backlog goes out.
//
// Connections that have not sent a whole request yet are bounded apart from
// the viewers, per client address and in total; a new one past a bound pushes
// out the oldest of them, so clients that connect and say nothing can never
// take the places of viewers. The server answers nothing but GET or HEAD of
// "/": other paths and methods, malformed and oversized requests get a short
// HTTP error. It never reads a file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"
#include "platform/encoder/AsfOutput.h"

namespace framory {

class BroadcastServer : public AsfLiveSink {
 public:
  static constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;
  static constexpr std::size_t kMaxBacklogBytes = kMaxQueuedBytes / 2;
  static constexpr std::size_t kMaxRequestBytes = 8 * 1024;
  static constexpr std::size_t kMaxViewers = 512;
  // Connections without a complete request yet (or being refused).
  static constexpr std::size_t kMaxPendingPerPeer = 16;
  static constexpr std::size_t kMaxPending = 64;

  BroadcastServer();
  ~BroadcastServer() override;
  BroadcastServer(const BroadcastServer&) = delete;
  BroadcastServer& operator=(const BroadcastServer&) = delete;

  // ASF stream number of the video (0 when there is none: every packet is a
  // starting point then).
  void SetVideoStreamNumber(int number) { videoStream_ = number; }
  // Binds TCP `port` on every IPv6 and IPv4 address (one dual-stack socket
  // where the system allows, else one of each; IPv4 alone where the system
  // has no IPv6) and starts the server thread, named "broadcast". False with
  // a reason when the port cannot be had.
  bool Listen(int port, std::string* failure);
  // The port listened on (the one the system chose when asked for 0).
  int Port() const { return port_; }
  void Stop();

  void OnHeader(const std::uint8_t* data, std::size_t size) override;
  void OnPacket(const std::uint8_t* data, std::size_t size) override;

  // Viewers being served the stream right now.
  std::size_t ViewerCount() const;
  // Every connection the server holds, viewers or not.
  std::size_t ConnectionCount() const;

  // The server without its thread, for the fuzz target: takes a connected
  // non-blocking socket as if accepted from `peer`, and runs one round of
  // the server loop. Never call these on a server that listens.
  void AdoptConnection(int fd, const std::string& peer);
  void ServeOnce(int timeoutMs);

 private:
  using Chunk = std::shared_ptr<const std::vector<std::uint8_t>>;
  struct Viewer;

  bool ListenOn(int family, int port, bool* unsupported, std::string* failure);
  void Run();
  void Accept(int listenFd);
  void Adopt(int fd, const std::string& peer);
  void BoundPending(const std::string& peer);
  void ReadRequest(Viewer& viewer);
  void Answer(Viewer& viewer, const std::string& request);
  void Refuse(Viewer& viewer, const char* status);
  void SendQueued(Viewer& viewer);
  void Enqueue(Viewer& viewer, const Chunk& chunk);
  void Wake();

  int videoStream_ = 0;
  std::vector<UniqueFd> listenFds_;
  int port_ = 0;
  UniqueFd wakeFds_[2];
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  // accept() failed for want of descriptors or memory: the listening sockets
  // rest until then, or until a connection closes.
  std::chrono::steady_clock::time_point acceptPausedUntil_{};

  mutable std::mutex mutex_;
  Chunk header_;
  std::deque<Chunk> backlog_;
  std::size_t backlogBytes_ = 0;
  bool backlogValid_ = false;
  std::vector<std::unique_ptr<Viewer>> viewers_;
};

}  // namespace framory
