// How a second start reaches the recorder already running on its display:
// the running recorder listens on a Unix socket in its private instance folder
// (see SingleInstance.h), a second start connects, sends "show" and waits a
// short while for "shown". The running side is served by the event loop's
// socket watch on the GUI thread, with no thread and no polling; the second
// start has no event loop yet and simply waits on the socket.
//
// InstanceLink is the seam: another way of asking the running recorder (a
// session-bus service, say) can take the socket's place without touching the
// start-up decision.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "base/SocketWatch.h"

namespace framory {

// The second start's side.
class InstanceLink {
 public:
  virtual ~InstanceLink() = default;
  // Asks the running recorder to bring its options view forward; true when
  // it said it did.
  virtual bool AskToShow() = 0;
};

class SocketInstanceLink : public InstanceLink {
 public:
  // Waits at most `answerMilliseconds` for the answer.
  SocketInstanceLink(std::string socketPath, int answerMilliseconds)
      : path_(std::move(socketPath)), answerMilliseconds_(answerMilliseconds) {}
  bool AskToShow() override;

 private:
  std::string path_;
  int answerMilliseconds_;
};

// The running recorder's side: accepts connections of this user on the
// socket, and for each "show" answers "shown" and calls the show handler.
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
  // Serves the requests from `watch`'s event loop until Close.
  void Serve(SocketWatch& watch, std::function<void()> onShow);
  // Stops serving and listening; the socket file goes.
  void Close();

 private:
  void Accept();
  void Read(int fd);
  void Drop(int fd);

  SocketWatch* watch_ = nullptr;
  std::function<void()> onShow_;
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
