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

constexpr char kShownAnswer[] = "shown";
constexpr char kDoneAnswer[] = "done";
constexpr char kRefusedAnswer[] = "refused";
// A request longer than this is not one of ours.
constexpr std::size_t kMaxRequest = 64;
// An answer carries at most a status line with a path.
constexpr std::size_t kMaxAnswer = 16384;
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

// The answer line for a reply: "shown" for a show, "done" with the text of
// a status, "refused" with the reason.
std::string AnswerLine(RemoteCommand command, const RemoteReply& reply) {
  std::string line;
  if (reply.What == RemoteReply::Kind::Done) {
    line = command == RemoteCommand::ShowOptionsView ? kShownAnswer : kDoneAnswer;
  } else {
    line = kRefusedAnswer;
  }
  if (!reply.Text.empty()) line += " " + reply.Text;
  for (char& c : line) {
    if (c == '\n') c = '?';
  }
  return line + "\n";
}

RemoteReply ReadAnswer(RemoteCommand command, const std::string& line) {
  RemoteReply reply;
  const std::size_t space = line.find(' ');
  const std::string word = line.substr(0, space);
  const std::string text = space == std::string::npos ? std::string() : line.substr(space + 1);
  const bool show = command == RemoteCommand::ShowOptionsView;
  if ((show && line == kShownAnswer) || (!show && word == kDoneAnswer)) {
    reply.What = RemoteReply::Kind::Done;
    reply.Text = text;
  } else if (!show && word == kRefusedAnswer) {
    reply.What = RemoteReply::Kind::Refused;
    reply.Text = text;
  } else {
    reply.What = RemoteReply::Kind::NoAnswer;
  }
  return reply;
}

}  // namespace

RemoteReply SocketInstanceLink::Ask(RemoteCommand command) {
  RemoteReply reply{RemoteReply::Kind::NotRunning, {}};
  const SocketAddress address(path_);
  if (!address.Valid()) return reply;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return reply;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(answerMilliseconds_);
  // A local connect waits while the recorder's backlog is full (many starts
  // at once, or a recorder still starting up); the send timeout bounds that
  // wait, and the request's small send.
  timeval wait{answerMilliseconds_ / 1000, (answerMilliseconds_ % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  if (::connect(fd, address.Get(), address.Size()) != 0) {
    // No socket, or nobody listening on it (a recorder that crashed left
    // it): no recorder runs. A full backlog that outlasted the wait is one
    // that does not answer.
    if (errno != ENOENT && errno != ECONNREFUSED) reply.What = RemoteReply::Kind::NoAnswer;
    ::close(fd);
    return reply;
  }
  reply.What = RemoteReply::Kind::NoAnswer;
  const std::string request = std::string(RemoteRequestWord(command)) + "\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
      static_cast<ssize_t>(request.size())) {
    std::string answer;
    while (answer.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd readable{fd, POLLIN, 0};
      const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      char buffer[256];
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(got));
      if (answer.size() > kMaxAnswer) break;
    }
    const std::size_t end = answer.find('\n');
    if (end != std::string::npos) reply = ReadAnswer(command, answer.substr(0, end));
  }
  ::close(fd);
  return reply;
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

void InstanceServer::Serve(SocketWatch& watch, Handler answer,
                           std::function<void(RemoteCommand)> carry) {
  if (listenFd_ < 0) return;
  watch_ = &watch;
  handler_ = std::move(answer);
  carry_ = std::move(carry);
  watch_->Watch(listenFd_, [this] { Accept(); });
}

void InstanceServer::Serve(SocketWatch& watch, std::function<void()> onShow) {
  Serve(watch, [onShow = std::move(onShow)](RemoteCommand command) -> std::optional<RemoteReply> {
    if (command != RemoteCommand::ShowOptionsView) return std::nullopt;
    if (onShow) onShow();
    return RemoteReply{RemoteReply::Kind::Done, {}};
  });
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
  const std::optional<RemoteCommand> command = RemoteCommandOfWord(pending.substr(0, end));
  std::optional<RemoteReply> reply;
  if (command && handler_) reply = handler_(*command);
  if (reply) {
    const std::string answer = AnswerLine(*command, *reply);
    ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  Drop(fd);
  if (reply && reply->What == RemoteReply::Kind::Done && carry_) carry_(*command);
}

void InstanceServer::Drop(int fd) {
  if (watch_ != nullptr) watch_->Unwatch(fd);
  ::close(fd);
  clients_.erase(fd);
}

}  // namespace framory
