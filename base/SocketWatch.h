// Watching a file descriptor from the GUI thread's event loop: the callback
// runs on that thread whenever the descriptor has data to read. This is how
// the X connections of the input and window-event sources are served without
// an extra thread and without polling.
#pragma once

#include <functional>

namespace framory {

class SocketWatch {
 public:
  virtual ~SocketWatch() = default;
  // Starts watching `fd` (replacing an earlier watch of the same fd).
  virtual void Watch(int fd, std::function<void()> onReadable) = 0;
  // Stops watching `fd`; safe to call from inside its own callback.
  virtual void Unwatch(int fd) = 0;
};

}  // namespace framory
