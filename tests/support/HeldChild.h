// A forked child that sets something up (maps a window, writes part of a
// file), says it is ready and then holds still until it is killed, the way a
// crashed or killed program leaves things. The parent kills and reaps it at
// the latest when the HeldChild goes.
#pragma once

#include <sys/types.h>

#include <functional>

namespace framory::testing {

class HeldChild {
 public:
  // Runs `body` in the child. The body calls `hold` once it is ready; that
  // tells the parent and never returns, so what the body set up stays as it
  // is. The constructor returns when the child is ready, or has ended
  // without getting there (then Ready() is false).
  explicit HeldChild(const std::function<void(const std::function<void()>& hold)>& body);
  ~HeldChild() { Kill(); }
  HeldChild(HeldChild&& other) noexcept : pid_(other.pid_), ready_(other.ready_) {
    other.pid_ = -1;
  }
  HeldChild(const HeldChild&) = delete;
  HeldChild& operator=(const HeldChild&) = delete;
  HeldChild& operator=(HeldChild&&) = delete;

  bool Ready() const { return ready_; }
  // Kills the child with SIGKILL and returns its wait status; -1 when there
  // is none (any more).
  int Kill();

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace framory::testing
