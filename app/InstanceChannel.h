// How a second start, or a remote command of the command line, reaches the
// recorder already running on its display when the session bus cannot (no
// bus, or a recorder that could not take its name there): the running
// recorder listens on a Unix socket in its private instance folder (see
// SingleInstance.h); the caller connects, sends one request line ("show",
// "toggle-recording", "status", ... see RemoteCommand.h) and waits a short
// while for the one answer line: "shown" for "show", else "done", "done
// TEXT" or "refused TEXT". The running side is served by the event loop's
// socket watch on the GUI thread, with no thread and no polling; the caller
// has no event loop and simply waits on the socket.
//
// InstanceLink is the seam: the session-bus service answers the same
// commands (platform/qt/DbusInstanceLink), and the start-up decision and
// the command line do not care which one carries them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "app/RemoteCommand.h"
#include "base/SocketWatch.h"

namespace framory {

// The caller's side.
class InstanceLink {
 public:
  virtual ~InstanceLink() = default;
  // Sends one command to the running recorder and waits for its answer.
  virtual RemoteReply Ask(RemoteCommand command) = 0;
  // Asks the running recorder to bring its options view forward; true when
  // it said it did.
  bool AskToShow() { return Ask(RemoteCommand::ShowOptionsView).What == RemoteReply::Kind::Done; }
};

class SocketInstanceLink : public InstanceLink {
 public:
  // Waits at most `answerMilliseconds` for the answer. NotRunning when
  // nothing listens on the socket.
  SocketInstanceLink(std::string socketPath, int answerMilliseconds)
      : path_(std::move(socketPath)), answerMilliseconds_(answerMilliseconds) {}
  RemoteReply Ask(RemoteCommand command) override;

 private:
  std::string path_;
  int answerMilliseconds_;
};

// The running recorder's side: accepts connections of this user on the
// socket, and answers each request the handler serves; a request it does not
// serve, or any other line, closes the connection unanswered.
// Listening starts as soon as the display's lock is taken, long before the
// event loop runs, so that a second start made meanwhile waits in the
// socket's backlog and is answered once serving begins.
class InstanceServer {
 public:
  InstanceServer() = default;
  ~InstanceServer() { Close(); }
  InstanceServer(const InstanceServer&) = delete;
  InstanceServer& operator=(const InstanceServer&) = delete;

  // Listens on `socketPath`, replacing a socket file a crashed recorder left
  // there: the caller holds the display's lock, so nobody else serves it.
  // False (with `problem` set) when the socket cannot be made.
  bool Listen(const std::string& socketPath, std::string* problem = nullptr);
  bool Listening() const { return listenFd_ >= 0; }
  // The answer to one command; none when the command is not served here.
  using Handler = std::function<std::optional<RemoteReply>(RemoteCommand)>;
  // Serves the requests from `watch`'s event loop until Close: `answer`
  // gives the answer, which is sent; then `carry` (when given) carries out
  // a command answered Done, so that a command that waits (a box it shows)
  // does not keep its caller waiting.
  void Serve(SocketWatch& watch, Handler answer,
             std::function<void(RemoteCommand)> carry = nullptr);
  // Serves "show" alone, calling `onShow` for each.
  void Serve(SocketWatch& watch, std::function<void()> onShow);
  // Stops serving and listening; the socket file goes.
  void Close();

 private:
  void Accept();
  void Read(int fd);
  void Drop(int fd);

  SocketWatch* watch_ = nullptr;
  Handler handler_;
  std::function<void(RemoteCommand)> carry_;
  std::string path_;
  int listenFd_ = -1;
  struct Client {
    std::uint64_t serial;  // order of arrival
    std::string pending;   // what it has sent so far
  };
  std::map<int, Client> clients_;
  std::uint64_t nextSerial_ = 0;
};

}  // namespace framory
