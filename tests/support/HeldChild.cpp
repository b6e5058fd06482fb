#include "support/HeldChild.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace framory::testing {

HeldChild::HeldChild(const std::function<void(const std::function<void()>& hold)>& body) {
  int fds[2];
  if (pipe(fds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    const int readyFd = fds[1];
    body([readyFd] {
      const char byte = 1;
      if (write(readyFd, &byte, 1) != 1) _exit(5);
      for (;;) pause();
    });
    _exit(1);  // the body ended without getting ready
  }
  close(fds[1]);
  if (pid_ > 0) {
    char byte = 0;
    ready_ = read(fds[0], &byte, 1) == 1;
  }
  close(fds[0]);
}

int HeldChild::Kill() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return status;
}

}  // namespace framory::testing
