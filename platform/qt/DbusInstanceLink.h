// The caller's side of the remote control: a second start and the command
// line's remote-control options reach the recorder of their display through
// the session bus (see DbusRemoteService.h), and through the instance socket
// where that cannot be done: no session bus, or no recorder holding the name
// there (one started where there was no bus, or still starting up, answers
// on its socket). A name held by a program of another user is not ours and
// is not spoken to.
//
// A QCoreApplication must exist while a link is used.
#pragma once

#include <string>

#include "app/InstanceChannel.h"

namespace framory {

class DbusInstanceLink : public InstanceLink {
 public:
  // Waits at most `answerMilliseconds` for an answer. NotRunning when no
  // program of this user holds `busName` (or there is no session bus).
  DbusInstanceLink(std::string busName, int answerMilliseconds)
      : name_(std::move(busName)), answerMilliseconds_(answerMilliseconds) {}
  RemoteReply Ask(RemoteCommand command) override;

 private:
  std::string name_;
  int answerMilliseconds_;
};

// The bus first, then the socket.
class SessionInstanceLink : public InstanceLink {
 public:
  SessionInstanceLink(std::string busName, std::string socketPath, int answerMilliseconds)
      : bus_(std::move(busName), answerMilliseconds),
        socket_(std::move(socketPath), answerMilliseconds) {}
  RemoteReply Ask(RemoteCommand command) override;

 private:
  DbusInstanceLink bus_;
  SocketInstanceLink socket_;
};

}  // namespace framory
