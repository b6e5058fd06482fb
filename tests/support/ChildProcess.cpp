#include "support/ChildProcess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

namespace framory::testing {

std::string RunInChild(const std::function<std::string()>& body, rlim_t fileSizeLimit) {
  int fds[2];
  if (pipe(fds) != 0) return kChildFailed;
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return kChildFailed;
  }
  if (child == 0) {
    close(fds[0]);
    if (fileSizeLimit != 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(4);
    }
    const std::string text = body();
    std::size_t sent = 0;
    while (sent < text.size()) {
      const ssize_t n = write(fds[1], text.data() + sent, text.size() - sent);
      if (n <= 0) _exit(3);
      sent += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buffer[512];
  ssize_t got;
  while ((got = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, std::size_t(got));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return text;
  if (WIFSIGNALED(status)) {
    std::cerr << "the child process died of signal " << WTERMSIG(status) << "\n";
  } else {
    std::cerr << "the child process exited with " << WEXITSTATUS(status) << "\n";
  }
  return kChildFailed;
}

int ChildWaitStatus(const std::function<void()>& body) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    body();
    _exit(99);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

}  // namespace framory::testing
