#include "platform/encoder/BroadcastServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/encoder/AsfPacketScan.h"

namespace framory {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRequestTimeout = std::chrono::seconds(10);
constexpr auto kDrainTimeout = std::chrono::seconds(2);
constexpr std::size_t kMaxViewers = 512;
constexpr int kPollMs = 250;

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

}  // namespace

struct BroadcastServer::Viewer {
  enum class Phase { Request, Streaming, Closing, Draining, Done };
  int fd = -1;
  Phase phase = Phase::Request;
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

bool BroadcastServer::Listen(int port, std::string* failure) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) {
    *failure = std::string("cannot open a socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd_, 64) != 0) {
    const int error = errno;
    *failure = "cannot serve the broadcast on TCP port " + std::to_string(port) + ": " +
               (error == EADDRINUSE ? std::string("the port is in use by another program")
                                    : std::string(std::strerror(error)));
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  if (pipe2(wakeFds_, O_NONBLOCK | O_CLOEXEC) != 0) {
    *failure = std::string("cannot make the server's wake-up pipe: ") + std::strerror(errno);
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
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
  for (auto& viewer : viewers_) close(viewer->fd);
  viewers_.clear();
  for (int& fd : {std::ref(listenFd_), std::ref(wakeFds_[0]), std::ref(wakeFds_[1])}) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void BroadcastServer::Wake() {
  if (wakeFds_[1] < 0) return;
  const char byte = 1;
  // A full pipe already holds a wake-up.
  [[maybe_unused]] ssize_t written = write(wakeFds_[1], &byte, 1);
}

std::size_t BroadcastServer::ViewerCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t count = 0;
  for (const auto& viewer : viewers_) count += viewer->phase == Viewer::Phase::Streaming;
  return count;
}

void BroadcastServer::OnHeader(const std::uint8_t* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  header_ = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
}

void BroadcastServer::OnPacket(const std::uint8_t* data, std::size_t size) {
  auto chunk = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
  const bool start = videoStream_ == 0 || AsfPacketStartsKeyFrame(data, size, videoStream_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (start) {
      backlog_.clear();
      backlogBytes_ = 0;
      backlogValid_ = true;
    }
    if (backlogValid_) {
      backlog_.push_back(chunk);
      backlogBytes_ += size;
      // Without a key frame for this long, new viewers wait for the next one.
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
  std::vector<pollfd> fds;
  while (!stopping_) {
    fds.clear();
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({wakeFds_[0], POLLIN, 0});
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& viewer : viewers_) {
        short events = viewer->readClosed ? 0 : POLLIN;
        if (!viewer->queue.empty()) events |= POLLOUT;
        fds.push_back({viewer->fd, events, 0});
      }
    }
    if (poll(fds.data(), fds.size(), kPollMs) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) {
      char drain[256];
      while (read(wakeFds_[0], drain, sizeof drain) > 0) {
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const Clock::time_point now = Clock::now();
      for (std::size_t i = 2; i < fds.size(); ++i) {
        Viewer& viewer = *viewers_[i - 2];
        if (fds[i].revents & POLLIN) ReadRequest(viewer);
        if (fds[i].revents & POLLOUT) SendQueued(viewer);
        if ((fds[i].revents & (POLLERR | POLLNVAL)) != 0) viewer.phase = Viewer::Phase::Done;
        if (viewer.phase == Viewer::Phase::Request && now > viewer.deadline)
          Refuse(viewer, "408 Request Timeout");
        else if (viewer.phase == Viewer::Phase::Draining && now > viewer.deadline)
          viewer.phase = Viewer::Phase::Done;
      }
      for (std::size_t i = 0; i < viewers_.size();) {
        if (viewers_[i]->phase == Viewer::Phase::Done) {
          close(viewers_[i]->fd);
          viewers_.erase(viewers_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          ++i;
        }
      }
    }
    if (fds[0].revents & POLLIN) Accept();
  }
}

void BroadcastServer::Accept() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    auto viewer = std::make_unique<Viewer>();
    viewer->fd = fd;
    if (viewers_.size() >= kMaxViewers) Refuse(*viewer, "503 Service Unavailable");
    viewers_.push_back(std::move(viewer));
  }
}

// With mutex_ held.
void BroadcastServer::ReadRequest(Viewer& viewer) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = recv(viewer.fd, buffer, sizeof buffer, 0);
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
  viewer.phase = Viewer::Phase::Streaming;
  Enqueue(viewer, std::make_shared<const std::vector<std::uint8_t>>(
                      kStreamResponse, kStreamResponse + sizeof kStreamResponse - 1));
  if (method == "HEAD") {
    viewer.headOnly = true;
    viewer.phase = Viewer::Phase::Closing;
    return;
  }
  if (header_) Enqueue(viewer, header_);
  if (backlogValid_) {
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
    const ssize_t sent =
        send(viewer.fd, front->data() + viewer.frontOffset, left, MSG_NOSIGNAL | MSG_DONTWAIT);
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
    // answer instead of a reset.
    shutdown(viewer.fd, SHUT_WR);
    viewer.phase = Viewer::Phase::Draining;
    viewer.deadline = Clock::now() + kDrainTimeout;
  }
}

}  // namespace framory
