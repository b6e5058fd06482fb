// SIGTERM, SIGINT and SIGHUP (a logout, systemctl, a closed terminal, kill)
// as a request to quit, handled by the event loop like "Stop and Exit" so that
// the open clip is finished and the settings are saved.
//
// The signal handler does the one thing that is safe there: it writes the
// signal number into a pipe. The read end is watched by the event loop
// (SocketWatch), whose callback then asks the shell to quit. A signal that
// arrives while the loop is not running (during start-up or shut-down) waits
// in the pipe or is simply not needed any more.
#pragma once

#include <functional>

#include "base/SocketWatch.h"
#include "base/UniqueFd.h"

namespace framory {

class QuitSignals {
 public:
  // `onQuit` gets the signal number, on the event loop's thread.
  QuitSignals(SocketWatch& watch, std::function<void(int)> onQuit);
  // Puts back the previous dispositions and closes the pipe.
  ~QuitSignals();
  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

  // Installs the handlers; false when the pipe or a handler cannot be made.
  // Only one instance may be installed at a time.
  bool Install();

 private:
  void Drain();

  SocketWatch& watch_;
  std::function<void(int)> onQuit_;
  UniqueFd readFd_;
  bool installed_ = false;
};

}  // namespace framory
