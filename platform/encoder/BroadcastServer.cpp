#include "platform/encoder/BroadcastServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/encoder/AsfPacketScan.h"

namespace framory {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRequestTimeout = std::chrono::seconds(10);
constexpr auto kDrainTimeout = std::chrono::seconds(2);
constexpr auto kAcceptPause = std::chrono::milliseconds(250);
constexpr int kPollMs = 250;
// Connections taken per listening socket and round: a flood of them must not
// keep the lock from the encoder's thread for long.
constexpr int kAcceptsPerRound = 64;

constexpr char kStreamResponse[] =
    "HTTP/1.0 200 OK\r\n"
    "Server: Framory\r\n"
    "Content-Type: video/x-ms-asf\r\n"
    "Cache-Control: no-cache\r\n"
    "Pragma: no-cache\r\n"
    "Connection: close\r\n\r\n";

std::string ErrorResponse(const char* status) {
  const std::string body = std::string(status) + "\n";
  std::string response = std::string("HTTP/1.0 ") + status + "\r\n";
  if (std::strncmp(status, "405", 3) == 0) response += "Allow: GET, HEAD\r\n";
  response += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\nConnection: close\r\n\r\n" + body;
  return response;
}

// The client's address as 16 bytes, IPv4 as its IPv4-mapped IPv6 form, so a
// client counts as one whichever socket it came in on.
std::string PeerKey(const sockaddr_storage& address) {
  in6_addr key{};
  if (address.ss_family == AF_INET6) {
    key = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
  } else if (address.ss_family == AF_INET) {
    key.s6_addr[10] = key.s6_addr[11] = 0xFF;
    std::memcpy(&key.s6_addr[12], &reinterpret_cast<const sockaddr_in&>(address).sin_addr, 4);
  }
  return std::string(reinterpret_cast<const char*>(key.s6_addr), sizeof key.s6_addr);
}

}  // namespace

struct BroadcastServer::Viewer {
  enum class Phase { Request, Streaming, Closing, Draining, Done };
  UniqueFd fd;
  std::string peer;
  Phase phase = Phase::Request;
  // Asked for the stream and got it: a viewer, no longer pending. A HEAD
  // answer stays pending until closed, like a refusal.
  bool viewer = false;
  std::string request;
  std::deque<Chunk> queue;
  std::size_t frontOffset = 0;
  std::size_t queuedBytes = 0;
  bool waitingForKey = false;
  bool headOnly = false;
  bool readClosed = false;  // the client shut its side; it may still read
  Clock::time_point deadline = Clock::now() + kRequestTimeout;
};

BroadcastServer::BroadcastServer() = default;

BroadcastServer::~BroadcastServer() { Stop(); }

// One listening socket of `family` on `port` (for IPv6 dual-stack where
// allowed). `unsupported` tells that the system has no such family at all.
bool BroadcastServer::ListenOn(int family, int port, bool* unsupported, std::string* failure) {
  *unsupported = false;
  UniqueFd socketFd(socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const int fd = socketFd.Get();
  if (fd < 0) {
    *unsupported = errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT;
    *failure = std::string("cannot open a socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_storage address{};
  socklen_t length;
  if (family == AF_INET6) {
    const int off = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    auto& six = reinterpret_cast<sockaddr_in6&>(address);
    six.sin6_family = AF_INET6;
    six.sin6_addr = in6addr_any;
    six.sin6_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof six;
  } else {
    auto& four = reinterpret_cast<sockaddr_in&>(address);
    four.sin_family = AF_INET;
    four.sin_addr.s_addr = htonl(INADDR_ANY);
    four.sin_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof four;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, SOMAXCONN) != 0) {
    const int error = errno;
    // An IPv6 stack without any IPv6 address (disabled on the interfaces).
    *unsupported = family == AF_INET6 && error == EADDRNOTAVAIL;
    *failure = "cannot serve the broadcast on TCP port " + std::to_string(port) + ": " +
               (error == EADDRINUSE ? std::string("the port is in use by another program")
                                    : std::string(std::strerror(error)));
    return false;
  }
  listenFds_.push_back(std::move(socketFd));
  return true;
}

bool BroadcastServer::Listen(int port, std::string* failure) {
  bool unsupported = false;
  bool dualStack = false;
  if (ListenOn(AF_INET6, port, &unsupported, failure)) {
    int v6only = 1;
    socklen_t size = sizeof v6only;
    getsockopt(listenFds_[0].Get(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, &size);
    dualStack = v6only == 0;
    sockaddr_in6 bound{};
    socklen_t length = sizeof bound;
    getsockname(listenFds_[0].Get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port = ntohs(bound.sin6_port);
  } else if (!unsupported) {
    return false;
  }
  if (!dualStack && !ListenOn(AF_INET, port, &unsupported, failure)) {
    listenFds_.clear();
    return false;
  }
  if (port == 0) {
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(listenFds_[0].Get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port = ntohs(bound.sin_port);
  }
  port_ = port;
  int wake[2];
  if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    *failure = std::string("cannot make the server's wake-up pipe: ") + std::strerror(errno);
    listenFds_.clear();
    return false;
  }
  wakeFds_[0].Reset(wake[0]);
  wakeFds_[1].Reset(wake[1]);
  thread_ = std::thread(&BroadcastServer::Run, this);
  return true;
}

void BroadcastServer::Stop() {
  if (thread_.joinable()) {
    stopping_ = true;
    Wake();
    thread_.join();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  viewers_.clear();
  listenFds_.clear();
  for (UniqueFd& fd : wakeFds_) fd.Reset();
}

void BroadcastServer::Wake() {
  if (!wakeFds_[1].Valid()) return;
  const char byte = 1;
  // A full pipe already holds a wake-up.
  [[maybe_unused]] ssize_t written = write(wakeFds_[1].Get(), &byte, 1);
}

std::size_t BroadcastServer::ViewerCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t count = 0;
  for (const auto& viewer : viewers_) count += viewer->phase == Viewer::Phase::Streaming;
  return count;
}

std::size_t BroadcastServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return viewers_.size();
}

void BroadcastServer::OnHeader(const std::uint8_t* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  header_ = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
}

void BroadcastServer::OnPacket(const std::uint8_t* data, std::size_t size) {
  auto chunk = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
  const bool start = videoStream_ == 0 || AsfPacketStartsKeyFrame(data, size, videoStream_);
  // A viewer who begins here gets the packet without the pictures before
  // its key frame, which it could not decode.
  Chunk first = chunk;
  if (start && videoStream_ != 0) {
    auto hidden = std::make_shared<std::vector<std::uint8_t>>(data, data + size);
    AsfPacketHideFramesBeforeKey(hidden->data(), hidden->size(), videoStream_);
    first = std::move(hidden);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (start) {
      backlog_.clear();
      backlogBytes_ = 0;
      backlogValid_ = true;
    }
    if (backlogValid_) {
      backlog_.push_back(start ? first : chunk);
      backlogBytes_ += size;
      // More than a new viewer may be handed at once: new viewers wait for
      // the next key frame.
      if (backlogBytes_ > kMaxBacklogBytes) {
        backlog_.clear();
        backlogBytes_ = 0;
        backlogValid_ = false;
      }
    }
    for (auto& viewer : viewers_) {
      if (viewer->phase != Viewer::Phase::Streaming || viewer->headOnly) continue;
      if (viewer->waitingForKey) {
        if (!start) continue;
        viewer->waitingForKey = false;
        Enqueue(*viewer, first);
        continue;
      }
      Enqueue(*viewer, chunk);
    }
  }
  Wake();
}

// With mutex_ held.
void BroadcastServer::Enqueue(Viewer& viewer, const Chunk& chunk) {
  if (viewer.phase == Viewer::Phase::Done) return;
  if (viewer.queuedBytes + chunk->size() > kMaxQueuedBytes) {
    // The viewer stopped reading: drop it rather than hold up anyone.
    viewer.queue.clear();
    viewer.queuedBytes = 0;
    viewer.phase = Viewer::Phase::Done;
    return;
  }
  viewer.queue.push_back(chunk);
  viewer.queuedBytes += chunk->size();
}

void BroadcastServer::Run() {
  pthread_setname_np(pthread_self(), "broadcast");
  while (!stopping_) ServeOnce(kPollMs);
}

void BroadcastServer::ServeOnce(int timeoutMs) {
  std::vector<pollfd> fds;
  Clock::time_point now = Clock::now();
  const bool accepting = now >= acceptPausedUntil_;
  if (!accepting) {
    const auto rest = std::chrono::ceil<std::chrono::milliseconds>(acceptPausedUntil_ - now);
    timeoutMs = std::min<int>(timeoutMs, static_cast<int>(rest.count()));
  }
  // Listening sockets first, with no events while accepting rests (a
  // listening socket reports no hang-up or error of its own).
  for (const UniqueFd& fd : listenFds_)
    fds.push_back({fd.Get(), static_cast<short>(accepting ? POLLIN : 0), 0});
  fds.push_back({wakeFds_[0].Get(), POLLIN, 0});
  const std::size_t firstViewer = fds.size();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& viewer : viewers_) {
      short events = viewer->readClosed ? 0 : POLLIN;
      if (!viewer->queue.empty()) events |= POLLOUT;
      fds.push_back({viewer->fd.Get(), events, 0});
    }
  }
  if (poll(fds.data(), fds.size(), timeoutMs) < 0) {
    // Out of memory for the poll set: wait as a poll would have.
    if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return;
  }
  if (fds[firstViewer - 1].revents & POLLIN) {
    char drain[256];
    while (read(wakeFds_[0].Get(), drain, sizeof drain) > 0) {
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  now = Clock::now();
  // Viewers only join at the end of viewers_, so the first ones still match
  // the descriptors polled.
  for (std::size_t i = firstViewer; i < fds.size(); ++i) {
    Viewer& viewer = *viewers_[i - firstViewer];
    if (fds[i].revents & POLLIN) ReadRequest(viewer);
    if (fds[i].revents & POLLOUT) SendQueued(viewer);
    // A hang-up is both directions shut (or the connection reset): nothing
    // more can go either way. It is reported whatever events were asked for,
    // so a connection left open here would wake every poll at once.
    if ((fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) viewer.phase = Viewer::Phase::Done;
    if (viewer.phase == Viewer::Phase::Request && now > viewer.deadline)
      Refuse(viewer, "408 Request Timeout");
    else if (viewer.phase == Viewer::Phase::Draining && now > viewer.deadline)
      viewer.phase = Viewer::Phase::Done;
  }
  for (std::size_t i = 0; i < firstViewer - 1; ++i)
    if (fds[i].revents & POLLIN) Accept(fds[i].fd);
  const std::size_t before = viewers_.size();
  viewers_.erase(std::remove_if(viewers_.begin(), viewers_.end(),
                                [](const std::unique_ptr<Viewer>& viewer) {
                                  return viewer->phase == Viewer::Phase::Done;
                                }),
                 viewers_.end());
  // A descriptor came free: accept() may succeed again.
  if (viewers_.size() < before) acceptPausedUntil_ = {};
}

// With mutex_ held.
void BroadcastServer::Accept(int listenFd) {
  for (int taken = 0; taken < kAcceptsPerRound; ++taken) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&address), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // Out of descriptors or memory: the connection stays queued and the
      // socket stays readable, so polling it now would spin. Rest instead.
      if (errno != EAGAIN && errno != EWOULDBLOCK) acceptPausedUntil_ = Clock::now() + kAcceptPause;
      return;
    }
    Adopt(fd, PeerKey(address));
  }
}

void BroadcastServer::AdoptConnection(int fd, const std::string& peer) {
  std::lock_guard<std::mutex> lock(mutex_);
  Adopt(fd, peer);
}

// With mutex_ held.
void BroadcastServer::Adopt(int fd, const std::string& peer) {
  auto owned = std::make_unique<Viewer>();
  Viewer& viewer = *owned;
  viewer.fd.Reset(fd);
  viewer.peer = peer;
  viewers_.push_back(std::move(owned));
  // The request usually came with the connection: a viewer that sent it
  // whole is never counted as pending.
  ReadRequest(viewer);
  if (!viewer.viewer && viewer.phase != Viewer::Phase::Done) BoundPending(peer);
}

// With mutex_ held. Closes the oldest connections that are not viewers (no
// request yet, or being refused) past the bounds for `peer` and overall.
void BroadcastServer::BoundPending(const std::string& peer) {
  std::size_t fromPeer = 0, total = 0;
  for (const auto& viewer : viewers_) {
    if (viewer->viewer || viewer->phase == Viewer::Phase::Done) continue;
    ++total;
    fromPeer += viewer->peer == peer;
  }
  for (auto& viewer : viewers_) {
    if (fromPeer <= kMaxPendingPerPeer && total <= kMaxPending) return;
    if (viewer->viewer || viewer->phase == Viewer::Phase::Done) continue;
    if (viewer->peer == peer) {
      --fromPeer;
    } else if (total <= kMaxPending) {
      continue;
    }
    --total;
    viewer->phase = Viewer::Phase::Done;
  }
}

// With mutex_ held.
void BroadcastServer::ReadRequest(Viewer& viewer) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = recv(viewer.fd.Get(), buffer, sizeof buffer, 0);
    if (got == 0) {
      // Before the answer that means the client left; afterwards a viewer may
      // have shut only its sending side, and a failed send tells when it left.
      if (viewer.phase == Viewer::Phase::Streaming || viewer.phase == Viewer::Phase::Closing)
        viewer.readClosed = true;
      else
        viewer.phase = Viewer::Phase::Done;
      return;
    }
    if (got < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        viewer.phase = Viewer::Phase::Done;
      return;
    }
    // Once the request is answered, whatever else arrives is not looked at.
    if (viewer.phase != Viewer::Phase::Request) continue;
    viewer.request.append(buffer, static_cast<std::size_t>(got));
    const std::size_t end = viewer.request.find("\r\n\r\n");
    const std::size_t bareEnd = viewer.request.find("\n\n");
    if (end != std::string::npos || bareEnd != std::string::npos) {
      Answer(viewer, viewer.request);
      viewer.request.clear();
      viewer.request.shrink_to_fit();
    } else if (viewer.request.size() > kMaxRequestBytes) {
      const bool lineEnded = viewer.request.find('\n') != std::string::npos;
      Refuse(viewer, lineEnded ? "431 Request Header Fields Too Large" : "414 URI Too Long");
    }
  }
}

// With mutex_ held.
void BroadcastServer::Answer(Viewer& viewer, const std::string& request) {
  std::string line = request.substr(0, request.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
  if (first == std::string::npos || second == std::string::npos ||
      line.find(' ', second + 1) != std::string::npos) {
    Refuse(viewer, "400 Bad Request");
    return;
  }
  const std::string method = line.substr(0, first);
  const std::string target = line.substr(first + 1, second - first - 1);
  const std::string version = line.substr(second + 1);
  if (version.rfind("HTTP/1.", 0) != 0 || version.size() != 8 || method.empty() || target.empty()) {
    Refuse(viewer, "400 Bad Request");
    return;
  }
  if (method != "GET" && method != "HEAD") {
    Refuse(viewer, "405 Method Not Allowed");
    return;
  }
  if (target != "/" && target.rfind("/?", 0) != 0) {
    Refuse(viewer, "404 Not Found");
    return;
  }
  std::size_t viewers = 0;
  for (const auto& other : viewers_) viewers += other->viewer;
  if (viewers >= kMaxViewers) {
    Refuse(viewer, "503 Service Unavailable");
    return;
  }
  viewer.phase = Viewer::Phase::Streaming;
  Enqueue(viewer, std::make_shared<const std::vector<std::uint8_t>>(
                      kStreamResponse, kStreamResponse + sizeof kStreamResponse - 1));
  if (method == "HEAD") {
    viewer.headOnly = true;
    viewer.phase = Viewer::Phase::Closing;
    return;
  }
  viewer.viewer = true;
  if (header_) Enqueue(viewer, header_);
  if (backlogValid_ && viewer.queuedBytes + backlogBytes_ <= kMaxQueuedBytes) {
    for (const Chunk& chunk : backlog_) Enqueue(viewer, chunk);
  } else {
    viewer.waitingForKey = true;
  }
}

// With mutex_ held.
void BroadcastServer::Refuse(Viewer& viewer, const char* status) {
  const std::string response = ErrorResponse(status);
  viewer.queue.clear();
  viewer.queuedBytes = 0;
  viewer.frontOffset = 0;
  viewer.phase = Viewer::Phase::Streaming;  // lets Enqueue take the answer
  Enqueue(viewer,
          std::make_shared<const std::vector<std::uint8_t>>(response.begin(), response.end()));
  viewer.phase = Viewer::Phase::Closing;
  viewer.request.clear();
}

// With mutex_ held.
void BroadcastServer::SendQueued(Viewer& viewer) {
  while (!viewer.queue.empty()) {
    const Chunk& front = viewer.queue.front();
    const std::size_t left = front->size() - viewer.frontOffset;
    const ssize_t sent = send(viewer.fd.Get(), front->data() + viewer.frontOffset, left,
                              MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        viewer.phase = Viewer::Phase::Done;
      return;
    }
    viewer.frontOffset += static_cast<std::size_t>(sent);
    if (viewer.frontOffset < front->size()) return;
    viewer.queuedBytes -= front->size();
    viewer.queue.pop_front();
    viewer.frontOffset = 0;
  }
  if (viewer.phase == Viewer::Phase::Closing) {
    // Half-close and read what the client still sends, so that it sees the
    // answer instead of a reset. A client that already shut its side sends
    // nothing more: the answer is with the system, close now.
    shutdown(viewer.fd.Get(), SHUT_WR);
    viewer.phase = viewer.readClosed ? Viewer::Phase::Done : Viewer::Phase::Draining;
    viewer.deadline = Clock::now() + kDrainTimeout;
  }
}

}  // namespace framory
