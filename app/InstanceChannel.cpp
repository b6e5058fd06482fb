#include "app/InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace framory {

namespace {

constexpr char kShowRequest[] = "show";
constexpr char kShownAnswer[] = "shown";
// A request longer than this is not one of ours.
constexpr std::size_t kMaxRequest = 64;
// Connections kept open at once; a new one beyond this drops the oldest, so
// clients that connect and never speak cannot shut the door.
constexpr std::size_t kMaxClients = 8;

// The address of the socket file `path`. A socket address holds at most 107
// bytes of path, less than a folder under a long home folder may need; such
// a path is reached through the folder's descriptor instead
// (/proc/self/fd/N/name), which stays open as long as the object lives.
class SocketAddress {
 public:
  explicit SocketAddress(const std::string& path) {
    address_.sun_family = AF_UNIX;
    if (path.empty()) return;
    std::string usable = path;
    if (usable.size() >= sizeof address_.sun_path) {
      const std::size_t slash = path.rfind('/');
      if (slash == std::string::npos) return;
      folderFd_ = ::open(slash == 0 ? "/" : path.substr(0, slash).c_str(),
                         O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (folderFd_ < 0) return;
      usable = "/proc/self/fd/" + std::to_string(folderFd_) + path.substr(slash);
      if (usable.size() >= sizeof address_.sun_path) return;
    }
    std::memcpy(address_.sun_path, usable.c_str(), usable.size() + 1);
    valid_ = true;
  }
  ~SocketAddress() {
    if (folderFd_ >= 0) ::close(folderFd_);
  }
  SocketAddress(const SocketAddress&) = delete;
  SocketAddress& operator=(const SocketAddress&) = delete;

  bool Valid() const { return valid_; }
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&address_); }
  socklen_t Size() const { return sizeof address_; }

 private:
  sockaddr_un address_{};
  int folderFd_ = -1;
  bool valid_ = false;
};

bool SameUser(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
         credentials.uid == ::geteuid();
}

}  // namespace

bool SocketInstanceLink::AskToShow() {
  const SocketAddress address(path_);
  if (!address.Valid()) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(answerMilliseconds_);
  bool answered = false;
  // A local connect waits while the recorder's backlog is full (many starts
  // at once, or a recorder still starting up); the send timeout bounds that
  // wait, and the request's small send.
  timeval wait{answerMilliseconds_ / 1000, (answerMilliseconds_ % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  if (::connect(fd, address.Get(), address.Size()) == 0) {
    const std::string request = std::string(kShowRequest) + "\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      std::string reply;
      while (reply.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[64];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(got));
        if (reply.size() > kMaxRequest) break;
      }
      answered = reply == std::string(kShownAnswer) + "\n";
    }
  }
  ::close(fd);
  return answered;
}

void InstanceServer::Close() {
  while (!clients_.empty()) Drop(clients_.begin()->first);
  if (listenFd_ >= 0) {
    if (watch_ != nullptr) watch_->Unwatch(listenFd_);
    ::close(listenFd_);
    listenFd_ = -1;
    // Still ours: the lock is held until the process ends.
    ::unlink(path_.c_str());
  }
  watch_ = nullptr;
}

bool InstanceServer::Listen(const std::string& socketPath, std::string* problem) {
  Close();
  const SocketAddress address(socketPath);
  if (!address.Valid()) {
    if (problem) *problem = "the socket path " + socketPath + " cannot be used";
    return false;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (problem) *problem = std::string("cannot make a socket: ") + std::strerror(errno);
    return false;
  }
  ::unlink(socketPath.c_str());
  if (::bind(fd, address.Get(), address.Size()) != 0 || ::listen(fd, 8) != 0) {
    if (problem) *problem = "cannot listen on " + socketPath + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  listenFd_ = fd;
  path_ = socketPath;
  return true;
}

void InstanceServer::Serve(SocketWatch& watch, std::function<void()> onShow) {
  if (listenFd_ < 0) return;
  watch_ = &watch;
  onShow_ = std::move(onShow);
  watch_->Watch(listenFd_, [this] { Accept(); });
}

void InstanceServer::Accept() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: all taken; anything else: tried again at the next wake-up
    }
    if (!SameUser(fd)) {
      ::close(fd);
      continue;
    }
    if (clients_.size() >= kMaxClients) {
      // The oldest goes: descriptors are reused, so the lowest may well be
      // the newest.
      auto oldest = clients_.begin();
      for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        if (it->second.serial < oldest->second.serial) oldest = it;
      }
      Drop(oldest->first);
    }
    clients_[fd] = Client{nextSerial_++, {}};
    watch_->Watch(fd, [this, fd] { Read(fd); });
  }
}

void InstanceServer::Read(int fd) {
  char buffer[kMaxRequest];
  const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got <= 0) {
    Drop(fd);
    return;
  }
  std::string& pending = clients_[fd].pending;
  pending.append(buffer, static_cast<std::size_t>(got));
  const std::size_t end = pending.find('\n');
  if (end == std::string::npos) {
    if (pending.size() > kMaxRequest) Drop(fd);
    return;
  }
  const bool show = pending.compare(0, end, kShowRequest) == 0 && end == sizeof kShowRequest - 1;
  if (show) {
    const std::string answer = std::string(kShownAnswer) + "\n";
    ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  Drop(fd);
  if (show && onShow_) onShow_();
}

void InstanceServer::Drop(int fd) {
  if (watch_ != nullptr) watch_->Unwatch(fd);
  ::close(fd);
  clients_.erase(fd);
}

}  // namespace framory
