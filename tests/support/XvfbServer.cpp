#include "support/XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "support/ProgramLog.h"

namespace framory::testing {

XvfbServer::XvfbServer(const std::string& screen, const std::vector<std::string>& arguments) {
  int fds[2];
  if (pipe(fds) != 0) return;
  const std::string fd = std::to_string(fds[1]);
  std::vector<std::string> words = {"Xvfb", "-displayfd", fd,          "-screen",
                                    "0",    screen,       "-nolisten", "tcp"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  NoteProgram("Xvfb");
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    execvp("Xvfb", argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd ready{fds[0], POLLIN, 0};
  while (pid_ > 0 && number.find('\n') == std::string::npos && poll(&ready, 1, 30000) > 0) {
    char buffer[16];
    const ssize_t got = read(fds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    number.append(buffer, static_cast<std::size_t>(got));
  }
  close(fds[0]);
  const std::size_t end = number.find('\n');
  if (end != std::string::npos && end > 0) name_ = ":" + number.substr(0, end);
}

void XvfbServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace framory::testing
