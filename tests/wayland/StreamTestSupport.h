// What the Wayland tests share: an outside program run in the background
// for the length of a test (a PipeWire producer), and waiting for a
// condition that another process brings about.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/ProgramLog.h"

namespace framory::testing {

// Starts `argv` at once; SIGTERM and reaped when it goes. With `input` the
// program reads its standard input from Write.
class Background {
 public:
  explicit Background(std::vector<std::string> argv, bool input = false) {
    NoteProgram(argv.at(0));
    int pipeFds[2] = {-1, -1};
    if (input && pipe(pipeFds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      if (input) {
        dup2(pipeFds[0], 0);
        close(pipeFds[0]);
        close(pipeFds[1]);
      }
      std::vector<char*> args;
      for (std::string& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    if (input) {
      close(pipeFds[0]);
      input_ = pipeFds[1];
    }
  }
  ~Background() { Stop(); }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  bool Started() const { return pid_ > 0; }
  // True while the program still runs.
  bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  // Writes `line` and a line break to the program's standard input.
  bool Write(const std::string& line) {
    const std::string text = line + "\n";
    return input_ >= 0 &&
           write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void Stop() {
    if (input_ >= 0) {
      close(input_);
      input_ = -1;
    }
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
};

// Polls `done` until it holds; false when it still does not after `seconds`
// (a generous bound for a busy machine, not a measure of speed).
inline bool WaitUntil(const std::function<bool()>& done, int seconds = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Waits until the PipeWire daemon lists a node named `node` (a producer
// started in the background has registered it).
inline bool WaitForNode(const std::string& node) {
  NoteProgram("pw-cli");
  return WaitUntil([&] {
    FILE* pipe = popen("pw-cli ls Node 2>/dev/null", "r");
    if (pipe == nullptr) return false;
    std::string text;
    char buffer[4096];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    pclose(pipe);
    return text.find("node.name = \"" + node + "\"") != std::string::npos;
  });
}

}  // namespace framory::testing
